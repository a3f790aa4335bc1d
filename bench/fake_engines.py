"""Three fake search engines on loopback ports, for bench/search_timing.py.

Each engine answers the result pages of one keyword: pages 1 to 20 of about
100 KB, every page with a few share-link hits in that engine's markup among
ordinary results, scripts and page furniture. No page carries its engine's
stop text, every page's links are new (so Sogou's repeated-page rule never
fires), and the pager always offers a next page: a worker reads all twenty.
Soso and Yahoo China pages are GBK; Sogou's are UTF-8, as the real ones are,
so the program converts them.

The pages of a keyword are built before they are asked for and served from
memory; each connection carries one exchange (HTTP/1.0) and is closed, so
every page comes over a new connection, for the program and for curl alike.
"""

import socket
import threading
import time

ENGINES = ("soso", "sogou", "yahoo")
LAST_PAGE = 20

# Path and page key of each engine's query, as the program builds it.
QUERY = {
    "soso": ("/q?w=site%3A{share}%20{kw}&pg=", "gbk"),
    "sogou": ("/web?query=site%3A{share}+{kw}&page=", "utf-8"),
    "yahoo": ("/s?q=site%3A{share}%20{kw}&page=", "gbk"),
}

# Text for titles, snippets and furniture. None of it contains a stop text
# ("抱歉，找不到与", "验证码", "抱歉，没有找到与").
WORDS = ("资料", "下载", "高清", "电影", "合集", "教程", "全集", "网盘", "分享", "文档",
         "音乐", "软件", "中文", "字幕", "最新", "经典", "完整版", "学习", "视频", "图片")


def gbk_percent(text):
    """Every byte of the GBK text as %XX, as the program encodes a keyword."""
    return "".join("%%%02X" % b for b in text.encode("gbk"))


def page_path(engine, share_host, keyword, page):
    template, _ = QUERY[engine]
    return template.format(share=share_host, kw=gbk_percent(keyword)) + str(page)


def words(seed, count):
    return "".join(WORDS[(seed * 7 + i * 13) % len(WORDS)] for i in range(count))


def share_hit(engine, prefix, tail, keyword, seed):
    title_text = words(seed, 3)
    if engine == "soso":
        title = f"{title_text}<em>{keyword}</em>{words(seed + 1, 2)}"
        return (f'<li class="rb"><h3><a href="{prefix}{tail}" class="r" target="_blank">'
                f'{title}</a></h3>\n<p class="ds">{words(seed + 2, 12)}</p></li>\n')
    if engine == "sogou":
        title = f"{title_text}<em><!--red_beg-->{keyword}<!--red_end--></em>{words(seed + 1, 2)}"
        link = prefix + tail.replace("&", "&amp;")
        return (f'<div class="vrwrap"><h3 class="vrTitle"><a href="/link?url={seed}" '
                f'sogou_preview_title="{title}" sogou_preview_link="{link}">{title_text}</a>'
                f'</h3>\n<p class="str_info">{words(seed + 2, 12)}</p></div>\n')
    title = f"{title_text}<em>{keyword}</em>{words(seed + 1, 2)}"
    return (f'<li><div class="res"><h3><a href="{prefix}{tail}">{title}</a></h3>\n'
            f'<div class="abs">{words(seed + 2, 12)}</div></div></li>\n')


def ordinary_hit(engine, seed):
    title = words(seed, 4)
    site = f"http://www.site{seed % 97}.example.com/{seed}.html"
    if engine == "sogou":
        return (f'<div class="vrwrap"><h3 class="vrTitle"><a href="{site}" target="_blank">'
                f'{title}</a></h3>\n<p class="str_info">{words(seed + 3, 16)}</p></div>\n')
    return (f'<li><h3><a href="{site}" target="_blank">{title}</a></h3>\n'
            f'<p>{words(seed + 3, 16)}</p></li>\n')


def furniture(seed, size):
    """Script and style lines: the bulk of a real result page."""
    lines = []
    total = 0
    i = 0
    while total < size:
        line = (f"var s{seed}_{i}=function(a,b){{return a.split('|').concat"
                f"(b||[]).join(';')+\"{words(seed + i, 2)}\";}};\n" if i % 3 else
                f".c{seed}_{i}{{margin:0 {i % 9}px;padding:{i % 5}px;color:#{i % 4096:03x};"
                f"font:12px/1.5 arial}}\n")
        lines.append(line)
        total += len(line.encode("gbk"))
        i += 1
    return "".join(lines)


def result_page(engine, share_host, keyword, page, seed, hits, size):
    """One page and the links it shows, as (body bytes, content type, [link])."""
    _, charset = QUERY[engine]
    prefix = f"http://{share_host}/share/link"
    engine_index = ENGINES.index(engine)
    links = []
    results = []
    for i in range(hits):
        shareid = ((seed * 3 + engine_index) * 100 + page) * 100 + i
        tail = f"?shareid={shareid}&uk={1000 + engine_index}"
        links.append(prefix + tail)
        results.append(share_hit(engine, prefix, tail, keyword, shareid))
        results.append(ordinary_hit(engine, shareid))
    meta = "charset=utf-8" if charset == "utf-8" else "charset=gb2312"
    head = (f'<!DOCTYPE html>\n<html><head>\n<meta http-equiv="content-type" '
            f'content="text/html;{meta}">\n<title>{keyword} - {words(seed, 2)}</title>\n'
            f'<style>\n')
    pager = (f'<div id="pager"><a href="?page={page - 1}">上一页</a> '
             f'<a href="?page={page + 1}" id="next">下一页</a></div>\n')
    middle = (f"</style>\n</head>\n<body>\n<div id=\"main\"><ul>\n" + "".join(results)
              + "</ul>\n" + pager + f"<div id=\"related\">{words(seed, 40)}</div>\n</div>\n"
              "<script>\n")
    tail_markup = "</script>\n</body></html>\n"
    fixed = len((head + middle + tail_markup).encode("gbk"))
    filler = max(size - fixed, 0)
    text = (head + furniture(seed * 31 + page, filler * 2 // 5) + middle
            + furniture(seed * 37 + page, filler - filler * 2 // 5) + tail_markup)
    return text.encode(charset), f"text/html; charset={charset}", links


class FakeEngines:
    """Listens on the three ports (Soso, Sogou, Yahoo China) until stop()."""

    def __init__(self, ports, share_host, hits, size):
        self.ports = list(ports)
        self.share_host = share_host
        self.hits = hits
        self.size = size
        self.lock = threading.Lock()
        self.pages = {}  # (port, path) -> full answer bytes
        self.log = []  # (engine, path, received, sent, client)
        self.unknown = []
        self.sockets = []
        self.running = True
        for port in self.ports:
            s = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
            s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
            s.bind(("127.0.0.1", port))
            s.listen(64)
            self.sockets.append(s)
            threading.Thread(target=self._accept, args=(s, port), daemon=True).start()

    def prepare(self, keyword, seed, extra=0):
        """Builds every page of the keyword, Soso's first with extra hits
        more; answers {engine: [address]} in page order and the number of
        distinct links."""
        addresses = {}
        links = set()
        pages = {}
        for engine, port in zip(ENGINES, self.ports):
            addresses[engine] = []
            for page in range(1, LAST_PAGE + 1):
                path = page_path(engine, self.share_host, keyword, page)
                hits = self.hits + (extra if (engine, page) == ("soso", 1) else 0)
                body, content_type, page_links = result_page(
                    engine, self.share_host, keyword, page, seed, hits, self.size)
                links.update(page_links)
                head = (f"HTTP/1.0 200 OK\r\nContent-Type: {content_type}\r\n"
                        f"Content-Length: {len(body)}\r\n\r\n").encode("ascii")
                pages[(port, path)] = head + body
                addresses[engine].append(f"http://127.0.0.1:{port}{path}")
        with self.lock:
            self.pages = pages
        return addresses, len(links)

    def take_log(self):
        with self.lock:
            log, self.log = self.log, []
            unknown, self.unknown = self.unknown, []
        return log, unknown

    def stop(self):
        self.running = False
        for s in self.sockets:
            try:
                s.shutdown(socket.SHUT_RDWR)
            except OSError:
                pass
            s.close()

    def _accept(self, listener, port):
        engine = ENGINES[self.ports.index(port)]
        while self.running:
            try:
                conn, _ = listener.accept()
            except OSError:
                return
            threading.Thread(target=self._serve, args=(conn, port, engine), daemon=True).start()

    def _serve(self, conn, port, engine):
        received = time.monotonic()
        try:
            conn.settimeout(30)
            data = b""
            while b"\r\n\r\n" not in data:
                chunk = conn.recv(65536)
                if not chunk:
                    return
                data += chunk
            request_line, _, headers = data.partition(b"\r\n")
            parts = request_line.split(b" ")
            path = parts[1].decode("latin-1") if len(parts) > 1 else ""
            client = "curl" if b"User-Agent: curl" in headers else "program"
            with self.lock:
                answer = self.pages.get((port, path))
            if answer is None:
                with self.lock:
                    self.unknown.append((engine, path, client))
                answer = b"HTTP/1.0 404 Not Found\r\nContent-Length: 0\r\n\r\n"
            conn.sendall(answer)
            sent = time.monotonic()
            with self.lock:
                self.log.append((engine, path, received, sent, client))
        except OSError:
            pass
        finally:
            try:
                conn.shutdown(socket.SHUT_RDWR)
            except OSError:
                pass
            conn.close()
