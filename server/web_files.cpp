#include "web_files.h"

#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstddef>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <system_error>

#include "server_limits.h"

namespace game501::server {

namespace {

namespace fs = std::filesystem;

std::string contentType(const fs::path& path) {
    static const std::map<std::string, std::string, std::less<>> types = {
        {".html", "text/html; charset=utf-8"},
        {".css", "text/css; charset=utf-8"},
        {".js", "text/javascript; charset=utf-8"},
        {".mjs", "text/javascript; charset=utf-8"},
        {".svg", "image/svg+xml"},
        {".png", "image/png"},
        {".ico", "image/x-icon"},
        {".json", "application/json"},
        {".webmanifest", "application/json"},
    };
    const auto type = types.find(path.extension().string());
    return type == types.end() ? "application/octet-stream" : type->second;
}

fs::path executableDirectory() {
    std::error_code error;
    const fs::path self = fs::read_symlink("/proc/self/exe", error);
    return error ? fs::path() : self.parent_path();
}

}  // namespace

std::optional<WebFiles> WebFiles::load(const std::string& directory, std::string& problem) {
    std::error_code error;
    const fs::path root = fs::weakly_canonical(directory, error);
    if (error || !fs::is_regular_file(root / "index.html", error)) {
        problem = directory + " har ingen index.html";
        return std::nullopt;
    }
    WebFiles web;
    std::uintmax_t total = 0;
    for (fs::recursive_directory_iterator it(root, error), end; !error && it != end;
         it.increment(error)) {
        const fs::path relative = it->path().lexically_relative(root);
        const bool hidden = std::any_of(relative.begin(), relative.end(), [](const fs::path& part) {
            return part.string().front() == '.';
        });
        if (hidden || !it->is_regular_file(error)) {
            continue;  // editors' and file managers' hidden files are not pages
        }
        total += it->file_size(error);
        if (!error && total > std::uintmax_t{kMaxWebBytes}) {
            problem = "sidorna i " + root.string() + " är större än " +
                      std::to_string(kMaxWebBytes / (1024 * 1024)) + " MiB";
            return std::nullopt;
        }
        std::ifstream file(it->path(), std::ios::binary);
        std::string body((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
        if (error || !file) {
            problem = "kan inte läsa " + it->path().string();
            return std::nullopt;
        }
        web.files_.emplace(relative.generic_string(),
                           WebFile{contentType(it->path()), std::move(body)});
    }
    if (error) {
        problem = "kan inte läsa " + root.string() + ": " + error.message();
        return std::nullopt;
    }
    return web;
}

std::optional<WebFiles> WebFiles::locate(std::string& problem) {
    const fs::path installed = executableDirectory() / ".." / "share" / "game501" / "web";
    std::string installed_problem;
    if (std::optional<WebFiles> web =
            load(installed.lexically_normal().string(), installed_problem)) {
        return web;
    }
    std::string source_problem;
    if (std::optional<WebFiles> web = load(GAME501_SOURCE_WEB_DIR, source_problem)) {
        return web;
    }
    problem = installed_problem + "; " + source_problem;
    return std::nullopt;
}

const WebFile* WebFiles::find(std::string_view path) const {
    const auto it = files_.find(path);
    return it == files_.end() ? nullptr : &it->second;
}

}  // namespace game501::server
