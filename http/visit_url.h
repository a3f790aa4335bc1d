// One HTTP or HTTPS request the way a browser of the time would make it:
// default header lines, cookie collection and merging, "301" follow-up and
// UTF-8 bodies re-encoded into code page 936.
//
// Optional arguments: an omitted in-argument (std::nullopt) reads as 0, false
// or empty; an in/out or out argument is a pointer to the caller's own
// variable, nullptr when omitted. Whether `cookies` and `proxy` were supplied
// changes what the call does; for the other arguments only the value counts.
#pragma once

#include <cstdint>
#include <optional>

#include "http/transport.h"
#include "text/text.h"

namespace taviro {

// The agent string sent when the caller's header lines carry none.
extern const char kDefaultUserAgent[];

// A chain of "301" follow-ups stops after this many, returning the last body.
constexpr int kMaxMovedFollowUps = 10;

// Answers the response body, or an empty Bytes (with no argument changed)
// when the internet handle, the connection or the request cannot be opened.
//
//  method          0 GET; 1 POST with body; other values GET with a body
//  postText        body as text, used when postBytes is empty
//  cookies         in/out; when supplied the library's own cookie handling is
//                  off, the text is sent as a Cookie line when not empty and
//                  the response's cookies are merged into it
//  returnedCookies out; the response's "name=value" pairs, each + "; "
//  extraHeaders    in/out; header lines joined by CR LF; receives the
//                  default lines that were added
//  location        in/out; the Location value, or else (when empty) the raw
//                  header block
//  noRedirect      the library does not follow redirections itself
//  postBytes       in/out; body as bytes; filled from postText when a body
//                  is sent and it is empty
//  proxy           when supplied, http traffic goes through this proxy
//  rawHeaders      out; the raw response header block, or 5000 spaces
Bytes VisitUrl(const Text& url, std::optional<int32_t> method = std::nullopt,
               std::optional<Text> postText = std::nullopt, Text* cookies = nullptr,
               Text* returnedCookies = nullptr, Text* extraHeaders = nullptr,
               Text* location = nullptr, std::optional<bool> noRedirect = std::nullopt,
               Bytes* postBytes = nullptr, std::optional<Text> proxy = std::nullopt,
               Text* rawHeaders = nullptr);

// The same over a given internet library.
Bytes VisitUrlThrough(InternetLibrary& library, const Text& url,
                      std::optional<int32_t> method = std::nullopt,
                      std::optional<Text> postText = std::nullopt, Text* cookies = nullptr,
                      Text* returnedCookies = nullptr, Text* extraHeaders = nullptr,
                      Text* location = nullptr, std::optional<bool> noRedirect = std::nullopt,
                      Bytes* postBytes = nullptr, std::optional<Text> proxy = std::nullopt,
                      Text* rawHeaders = nullptr);

}  // namespace taviro
