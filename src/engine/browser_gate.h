#pragma once

#include <optional>
#include <string>

namespace quintalis {

// What a request's head tells of who sent it. Browsers mark what a web page
// sends (Origin, Referer, Sec-Fetch-Site) and name the site the page asked
// for (Host, or the authority of an absolute target), so these are what tell
// a program on this computer from a page its owner happens to visit.
struct RequestSource {
    std::optional<std::string> origin = std::nullopt;  // the first Origin header's value
    std::optional<std::string> host = std::nullopt;
    // The value that speaks against the request when the header came more
    // than once: any value but "none" means a page asked for it.
    std::optional<std::string> fetchSite = std::nullopt;
    std::optional<std::string> referer = std::nullopt;
    std::optional<std::string> targetAuthority = std::nullopt;  // "host:port" of an absolute-form target
};

// True for a request that a browser sent on behalf of a web page, or that
// names a site other than this computer: one with an Origin or a Referer, a
// Sec-Fetch-Site other than "none" (which marks what the owner typed into
// the address bar), or a Host or absolute target naming anything but
// 127.0.0.1, localhost or [::1]. An <img> or a form sends no Origin, and a
// page whose name was rebound to 127.0.0.1 sends its own name as Host, hence
// the other signs.
bool isBrowserRequest(const RequestSource& source);

// True when a Host value (port allowed) names this computer's loopback.
bool isLoopbackName(const std::string& hostAndPort);

// The signs a refused request carried, for the log line that records it:
// `Origin: …; Host: …; Sec-Fetch-Site: …; Referer: …`, absent ones left out,
// control characters replaced and long values shortened, as they are the
// client's words.
std::string describeSource(const RequestSource& source);

}  // namespace quintalis
