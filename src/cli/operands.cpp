#include "operands.h"

#include "cli.h"
#include "messages.h"
#include "trd_image.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <sys/stat.h>

#ifdef _WIN32
#include "system_path.h"
#include <windows.h>
#include <winternl.h>
#else
#include <fts.h>
#include <unistd.h>
#endif

namespace
{

// A name a walk takes: "*.trd", and with all_forms "*.scl" and "*.$?", in
// any case.
bool named_like_disk(const char* name, bool all_forms)
{
    if (has_trd_extension(name))
        return true;
    if (!all_forms)
        return false;
    const size_t length = std::strlen(name);
    if (length >= 4 && name[length - 3] == '.' && name[length - 2] == '$')
        return true;
    if (length < 5 || name[length - 4] != '.')
        return false;
    std::string extension(name + length - 3);
    for (char& c : extension)
        c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    return extension == "scl";
}

bool is_folder(const std::string& name)
{
#ifdef _WIN32
    std::wstring wide;
    const DWORD attributes = system_path(name.c_str(), &wide) ? GetFileAttributesW(wide.c_str())
                                                              : INVALID_FILE_ATTRIBUTES;
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
#else
    struct stat status;
    return stat(name.c_str(), &status) == 0 && S_ISDIR(status.st_mode);
#endif
}

// What tells one file from another: its volume and its file number. On
// Windows the number NTFS gives a file and the volume's root, asked without
// the volume's serial number (which Wine cannot read on its own drives, and
// says so on standard error); elsewhere the device and inode.
bool file_key(const std::string& name, bool walked, std::pair<uint64_t, uint64_t>* key)
{
#ifdef _WIN32
    (void)walked;
    std::wstring wide;
    if (!system_path(name.c_str(), &wide))
        return false;
    HANDLE handle =
        CreateFileW(wide.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return false;
    IO_STATUS_BLOCK status = {};
    FILE_INTERNAL_INFORMATION internal = {};
    const bool numbered = NtQueryInformationFile(handle, &status, &internal, sizeof internal,
                                                 FileInternalInformation) == 0 &&
                          internal.IndexNumber.QuadPart != 0;
    CloseHandle(handle);
    wchar_t volume[MAX_PATH * 4] = L"";
    if (!numbered || !GetVolumePathNameW(wide.c_str(), volume, MAX_PATH * 4))
        return false;
    for (wchar_t* at = volume; *at; ++at)
        *at = static_cast<wchar_t>(*at >= L'a' && *at <= L'z' ? *at - L'a' + L'A' : *at);
    *key = {std::hash<std::wstring>{}(volume),
            static_cast<uint64_t>(internal.IndexNumber.QuadPart)};
    return true;
#else
    struct stat status;
    if ((walked ? lstat(name.c_str(), &status) : stat(name.c_str(), &status)) != 0)
        return false;
    *key = {static_cast<uint64_t>(status.st_dev), static_cast<uint64_t>(status.st_ino)};
    return true;
#endif
}

// Lists a file unless the same file is listed already; then the name is
// one more of that file's.
void add_file(operand_list* list, const std::string& name, bool walked)
{
    std::pair<uint64_t, uint64_t> key;
    if (file_key(name, walked, &key)) {
        const auto found = list->seen_files.find(key);
        if (found != list->seen_files.end()) {
            list->files[found->second].other_names.push_back(name);
            return;
        }
        list->seen_files[key] = list->files.size();
    }
    list->files.push_back({name, walked, {}});
}

#ifdef _WIN32

// Walks one folder and those below it. Links (reparse points) are listed
// as files when named like images, so that opening refuses them; folders
// behind them are not entered.
void walk_folder(const std::filesystem::path& folder, std::vector<std::string>* found,
                 int* unreadable, bool all_forms)
{
    namespace fs = std::filesystem;
    std::vector<fs::path> folders;
    {
        std::error_code error;
        fs::directory_iterator entries(folder, error);
        if (error) {
            report(name_of(folder), error_code_text(error));
            ++*unreadable;
            return;
        }
        for (fs::directory_iterator end; entries != end; entries.increment(error)) {
            if (error) {
                report(name_of(folder), error_code_text(error));
                ++*unreadable;
                break;
            }
            const fs::file_status own = entries->symlink_status(error);
            if (error)
                continue;
            if (fs::is_directory(own))
                folders.push_back(entries->path());
            else if (named_like_disk(name_of(entries->path().filename()).c_str(), all_forms))
                found->push_back(name_of(entries->path()));
        }
    } // the folder is closed before those below it are opened
    for (const fs::path& below : folders)
        walk_folder(below, found, unreadable, all_forms);
}

void walk(const std::string& operand, std::vector<std::string>* found, int* unreadable,
          bool all_forms)
{
    walk_folder(library_path(operand), found, unreadable, all_forms);
}

#else

// The system's walker: no link followed below the operand, one folder open
// at a time whatever the depth, and every folder it cannot open or search
// reported with the system's text.
void walk(const std::string& operand, std::vector<std::string>* found, int* unreadable,
          bool all_forms)
{
    std::string path = operand;
    char* roots[] = {&path[0], nullptr};
    FTS* tree = fts_open(roots, FTS_PHYSICAL | FTS_COMFOLLOW | FTS_NOCHDIR, nullptr);
    if (!tree) {
        report(operand, error_message(errno));
        ++*unreadable;
        return;
    }
    errno = 0;
    while (FTSENT* entry = fts_read(tree)) {
        switch (entry->fts_info) {
        case FTS_D:
            // A folder that can be read but not searched gives its names
            // and nothing behind them: said once, for the folder.
            if (access(entry->fts_accpath, R_OK | X_OK) != 0) {
                report(entry->fts_path, error_message(errno));
                ++*unreadable;
                fts_set(tree, entry, FTS_SKIP);
            }
            break;
        case FTS_DNR:
        case FTS_ERR:
        case FTS_NS:
            report(entry->fts_path, error_message(entry->fts_errno));
            ++*unreadable;
            break;
        case FTS_DP:
        case FTS_DC:
        case FTS_DOT:
            break;
        default:
            // Files, links and anything else named like an image: opening
            // refuses what is not a regular file.
            if (entry->fts_level > 0 && named_like_disk(entry->fts_name, all_forms))
                found->push_back(entry->fts_path);
            break;
        }
        errno = 0;
    }
    // The walk itself failed (fts_read ends with errno 0 when it is done).
    if (errno != 0) {
        report(operand, error_message(errno));
        ++*unreadable;
    }
    fts_close(tree);
}

#endif

} // namespace

bool check_operands(const std::vector<std::string>& operands, bool recursive)
{
    bool usable = true;
    for (const std::string& operand : operands) {
        if (!recursive && is_folder(operand)) {
            report(operand, tr("is a folder (-r walks folders)"));
            usable = false;
        }
    }
    return usable;
}

void add_operand(const std::string& operand, bool recursive, operand_list* list, bool all_forms)
{
    if (!recursive || !is_folder(operand)) {
#ifdef _WIN32
        // The runtime leaves a wildcard that matches nothing as it is.
        std::wstring wide;
        if (operand.find_first_of("*?") != std::string::npos &&
            (!system_path(operand.c_str(), &wide) ||
             GetFileAttributesW(wide.c_str()) == INVALID_FILE_ATTRIBUTES)) {
            report(operand, tr("no file matches"));
            ++list->unreadable;
            return;
        }
#endif
        add_file(list, operand, false);
        return;
    }
    std::vector<std::string> found;
    walk(operand, &found, &list->unreadable, all_forms);
    std::sort(found.begin(), found.end());
    for (const std::string& name : found)
        add_file(list, name, true);
}

std::filesystem::path library_path(const std::string& name)
{
#ifdef _WIN32
    return std::filesystem::path(wide_text(name.c_str()));
#else
    return std::filesystem::path(name);
#endif
}

std::string name_of(const std::filesystem::path& path)
{
#ifdef _WIN32
    return narrow_text(path.wstring());
#else
    return path.string();
#endif
}

std::string error_code_text(const std::error_code& error)
{
#ifdef _WIN32
    // The library's codes are the system's own.
    if (error.category() == std::system_category()) {
        std::string text;
        system_code_text(static_cast<unsigned long>(error.value()), current_language(), &text);
        return text;
    }
#endif
    return error_message(error.value());
}
