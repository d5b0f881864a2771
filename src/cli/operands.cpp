#include "operands.h"

#include "trd_image.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <system_error>

namespace fs = std::filesystem;

static void report(const std::string& name, const std::string& problem)
{
    std::fprintf(stderr, "korvat-cli: %s: %s\n", name.c_str(), problem.c_str());
}

// Walks one folder and those below it, collecting image names. A folder
// that cannot be read is reported and skipped; the rest of the walk goes on.
static void walk_folder(const fs::path& folder, std::vector<std::string>* found, int* unreadable)
{
    std::error_code error;
    fs::directory_iterator entries(folder, error);
    if (error) {
        report(folder.string(), error.message());
        ++*unreadable;
        return;
    }
    std::vector<fs::path> folders;
    for (const fs::directory_entry& entry : entries) {
        // The link itself decides: a link to a folder is never walked, so
        // a loop of links cannot trap the walk.
        const fs::file_status own = entry.symlink_status(error);
        if (error)
            continue;
        if (fs::is_directory(own)) {
            folders.push_back(entry.path());
        } else if (has_trd_extension(entry.path().filename().string().c_str()) &&
                   fs::is_regular_file(entry.status(error)) && !error) {
            found->push_back(entry.path().string());
        }
    }
    for (const fs::path& below : folders)
        walk_folder(below, found, unreadable);
}

void add_operand(const std::string& operand, bool recursive, operand_list* list)
{
    std::error_code error;
    if (!fs::is_directory(fs::status(operand, error))) {
        list->files.push_back(operand);
        return;
    }
    if (!recursive) {
        report(operand, "is a folder (-r walks folders)");
        ++list->usage_errors;
        return;
    }
    std::vector<std::string> found;
    walk_folder(operand, &found, &list->unreadable);
    std::sort(found.begin(), found.end());
    list->files.insert(list->files.end(), found.begin(), found.end());
}
