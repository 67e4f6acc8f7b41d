// The version page of the update site: what it says about the newest release of the program.
//
// Pure text work for the update thread: the page is never trusted beyond what is read here. Its lines
// are only compared and copied (logged through a constant format), never used as a format or a path.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace hm {

struct VersionPage {
    bool hasVersion = false;
    uint32_t version = 0;             // major bits 16-23, minor 8-15, build 0-7
    std::string versionLine;          // the whole "Latest Haldmoor3 version: " line
    std::vector<std::string> news;    // the "Release date: " and "Features: " lines, in page order
    std::string downloadUri;          // behind "Download URI: "
    std::string jotwellUri;           // behind "Jotwell URI: ", kept only when it starts with "http"
};

// The line breaks of the page's HTML ("<br>", "<br />", "<p>", "</p>") become line feeds and "&nbsp"
// a blank; lines end at CR LF, CR or LF. The three numbers of the version line are each taken modulo
// 256; a version line without three numbers counts as no version line.
VersionPage ParseVersionPage(const std::string& text);

// major.minor.build of a coded version.
std::string VersionText(uint32_t version);

// Scheme, host and port of an http or https address, in lower case, with the scheme's default port
// made explicit ("http://host:80"); "" when the address is not one.
std::string AddressOrigin(const std::string& url);

}  // namespace hm
