// The scoreboard's pages and the files they use, read once at start and
// served from memory.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace game501::server {

struct WebFile {
    std::string content_type;
    std::string body;
};

class WebFiles {
public:
    // Reads every regular file below `directory`, at most 4 MiB in all.
    // Returns nothing, and says why in Swedish in `problem`, when the
    // directory has no index.html, holds more, or a file cannot be read.
    static std::optional<WebFiles> load(const std::string& directory, std::string& problem);

    // Finds the directory of the pages: beside an installed server in
    // ../share/game501/web, or else in the source tree it was built from.
    // Returns nothing, and says where it looked and what it found in
    // `problem`, when neither holds them.
    static std::optional<WebFiles> locate(std::string& problem);

    // Returns the file at `path` below the directory ("board.html",
    // "app.css"), or nothing.
    const WebFile* find(std::string_view path) const;

private:
    std::map<std::string, WebFile, std::less<>> files_;
};

}  // namespace game501::server
