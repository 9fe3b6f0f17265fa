// The scoreboard's pages and the files they use, read once at start and
// served from memory.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace game501_server {

struct WebFile {
    std::string content_type;
    std::string body;
};

class WebFiles {
public:
    // Reads every regular file below `directory`, at most 4 MiB in all.
    // Returns nothing when the directory has no index.html.
    static std::optional<WebFiles> load(const std::string& directory);

    // Finds the directory of the pages: beside an installed server in
    // ../share/game501/web, or else in the source tree it was built from.
    static std::optional<WebFiles> locate();

    // Returns the file at `path` below the directory ("board.html",
    // "js/live.js"), or nothing.
    const WebFile* find(std::string_view path) const;

private:
    std::map<std::string, WebFile, std::less<>> files_;
};

}  // namespace game501_server
