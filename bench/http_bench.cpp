// HTTP client and charset conversion speed (see docs/performance.md, "HTTP").
//
// Fetching: 200 pages of 100 KB from the loopback test server
// (tests/http/test_server.py, started here) with VisitUrl, with libcurl
// directly and with the curl tool, each opening a new connection per page as
// VisitUrl does. Converting: Utf8ToGbk on a 1 MB page against iconv alone.
#include <benchmark/benchmark.h>
#include <curl/curl.h>
#include <iconv.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "http/charset.h"
#include "http/visit_url.h"

namespace taviro {
namespace {

constexpr int kPages = 200;
constexpr int kPageSize = 100 * 1024;

// The test server as a child process, stopped by closing its standard input.
class LoopbackServer {
 public:
  LoopbackServer() {
    const std::string source = __FILE__;
    const std::string script =
        source.substr(0, source.rfind("/bench/")) + "/tests/http/test_server.py";
    int toChild[2], fromChild[2];
    if (pipe(toChild) != 0 || pipe(fromChild) != 0) std::abort();
    pid_ = fork();
    if (pid_ == 0) {
      dup2(toChild[0], 0);
      dup2(fromChild[1], 1);
      close(toChild[1]);
      close(fromChild[0]);
      execlp("python3", "python3", script.c_str(), "--serve", static_cast<char*>(nullptr));
      _exit(127);
    }
    close(toChild[0]);
    close(fromChild[1]);
    stdin_ = toChild[1];
    FILE* out = fdopen(fromChild[0], "r");
    if (out == nullptr || std::fscanf(out, "%d", &port_) != 1) std::abort();
    std::fclose(out);
    origin_ = "http://127.0.0.1:" + std::to_string(port_);
    Post("/__route?path=%2Fpage&fill=" + std::to_string(kPageSize),
         "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nContent-Length: " +
             std::to_string(kPageSize) + "\r\n\r\n");
  }
  ~LoopbackServer() {
    close(stdin_);
    waitpid(pid_, nullptr, 0);
  }

  std::string PageUrl() const { return origin_ + "/page"; }

 private:
  void Post(const std::string& target, const std::string& body) const {
    CURL* e = curl_easy_init();
    const std::string url = origin_ + target;
    curl_easy_setopt(e, CURLOPT_URL, url.c_str());
    curl_easy_setopt(e, CURLOPT_POSTFIELDS, body.c_str());
    curl_easy_setopt(e, CURLOPT_NOPROXY, "*");
    curl_easy_setopt(
        e, CURLOPT_WRITEFUNCTION, +[](char*, size_t s, size_t n, void*) { return s * n; });
    if (curl_easy_perform(e) != CURLE_OK) std::abort();
    curl_easy_cleanup(e);
  }

  pid_t pid_ = -1;
  int stdin_ = -1;
  int port_ = 0;
  std::string origin_;
};

const LoopbackServer& Server() {
  static const LoopbackServer server;
  return server;
}

void BM_VisitUrl200Pages(benchmark::State& state) {
  const Text url(Server().PageUrl());
  for (auto _ : state) {
    for (int i = 0; i < kPages; ++i) {
      const Bytes page = VisitUrl(url);
      if (page.size() != kPageSize) state.SkipWithError("short page");
    }
  }
  state.SetBytesProcessed(state.iterations() * kPages * int64_t{kPageSize});
}
BENCHMARK(BM_VisitUrl200Pages)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(3);

void BM_Libcurl200Pages(benchmark::State& state) {
  const std::string url = Server().PageUrl();
  for (auto _ : state) {
    for (int i = 0; i < kPages; ++i) {
      std::string page;
      CURL* e = curl_easy_init();
      curl_easy_setopt(e, CURLOPT_URL, url.c_str());
      curl_easy_setopt(e, CURLOPT_NOPROXY, "*");
      curl_easy_setopt(e, CURLOPT_FRESH_CONNECT, 1L);
      curl_easy_setopt(e, CURLOPT_WRITEDATA, &page);
      curl_easy_setopt(
          e, CURLOPT_WRITEFUNCTION, +[](char* d, size_t s, size_t n, void* p) {
            static_cast<std::string*>(p)->append(d, s * n);
            return s * n;
          });
      curl_easy_perform(e);
      curl_easy_cleanup(e);
      if (page.size() != kPageSize) state.SkipWithError("short page");
    }
  }
  state.SetBytesProcessed(state.iterations() * kPages * int64_t{kPageSize});
}
BENCHMARK(BM_Libcurl200Pages)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(3);

// The curl tool, one process for the 200 pages; the server closes every
// connection after its answer, so each page comes over a new one.
void BM_CurlTool200Pages(benchmark::State& state) {
  std::string command = "curl -s --noproxy '*'";
  for (int i = 0; i < kPages; ++i) command += " -o /dev/null " + Server().PageUrl();
  for (auto _ : state) {
    if (std::system(command.c_str()) != 0) state.SkipWithError("curl failed");
  }
  state.SetBytesProcessed(state.iterations() * kPages * int64_t{kPageSize});
}
BENCHMARK(BM_CurlTool200Pages)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(3);

// A result page as the engines send it: markup with Chinese titles, 1 MB.
const std::string& Utf8Page() {
  static const std::string page = [] {
    const std::string line =
        "<li><a href=\"http://pan.example.com/share/link?shareid=123&uk=456\">"
        "\xE4\xB8\xAD\xE6\x96\x87\xE6\xA0\x87\xE9\xA2\x98 \xE8\xB5\x84\xE6\x96\x99</a></li>\n";
    std::string p;
    while (p.size() < (1u << 20)) p += line;
    p.resize(1u << 20);
    while ((static_cast<unsigned char>(p.back()) & 0xC0) == 0x80) p.pop_back();
    if (static_cast<unsigned char>(p.back()) >= 0xC0) p.pop_back();
    return p;
  }();
  return page;
}

void BM_Utf8ToGbk1MB(benchmark::State& state) {
  const Bytes page(Utf8Page());
  for (auto _ : state) benchmark::DoNotOptimize(Utf8ToGbk(page));
  state.SetBytesProcessed(state.iterations() * int64_t{page.size()});
}
BENCHMARK(BM_Utf8ToGbk1MB)->Unit(benchmark::kMillisecond);

void BM_IconvUtf8ToCp936_1MB(benchmark::State& state) {
  const std::string& page = Utf8Page();
  iconv_t cd = iconv_open("CP936", "UTF-8");
  std::string out(page.size() * 2, '\0');
  for (auto _ : state) {
    char* in = const_cast<char*>(page.data());
    size_t inLeft = page.size();
    char* o = out.data();
    size_t outLeft = out.size();
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
    iconv(cd, &in, &inLeft, &o, &outLeft);
    benchmark::DoNotOptimize(o);
  }
  iconv_close(cd);
  state.SetBytesProcessed(state.iterations() * int64_t{static_cast<int64_t>(page.size())});
}
BENCHMARK(BM_IconvUtf8ToCp936_1MB)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace taviro

BENCHMARK_MAIN();
