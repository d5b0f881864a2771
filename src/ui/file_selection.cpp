// How files are chosen: the file-open dialog, files and folders dropped on
// the main window or given on its command line, each made into the one
// selection the dialog leaves behind; and that selection read back as the
// names to list, its folder made the current directory.
#include "image_list.h"

#include "messages.h"

#include "status_log.h"
#include "system_path.h"
#include "trd_image.h"

#include <commdlg.h>
#include <direct.h>
#include <shellapi.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

// The .trd files in a folder and in every folder below it, as full paths,
// the way korvat-cli -r walks: a link (reparse point) to a folder is not
// entered. One search handle is open at a time, whatever the depth, and
// paths of any length are reached. A folder that cannot be read gets a
// status line and is counted.
static void find_folder_images(const std::string& folder, std::vector<std::string>* paths)
{
    std::vector<std::string> below;
    std::wstring pattern;
    WIN32_FIND_DATAW found;
    HANDLE search = system_path((folder + "\\*").c_str(), &pattern)
                        ? FindFirstFileW(pattern.c_str(), &found)
                        : INVALID_HANDLE_VALUE;
    if (search == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        if (error != ERROR_FILE_NOT_FOUND && error != ERROR_NO_MORE_FILES) {
            std::string why;
            const bool in_language = system_code_text(error, current_language(), &why);
            note_not_listed(folder.c_str(), why, in_language);
        }
        return;
    }
    do {
        const std::string name = narrow_text(found.cFileName);
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            if (name != "." && name != ".." &&
                !(found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT))
                below.push_back(folder + "\\" + name);
        } else if (has_trd_extension(name.c_str())) {
            paths->push_back(folder + "\\" + name);
        }
    } while (FindNextFileW(search, &found));
    FindClose(search);
    for (const std::string& inner : below)
        find_folder_images(inner, paths);
}

// A dropped folder's images, in path order.
static void add_folder_images(const std::string& folder, std::vector<std::string>* paths)
{
    std::vector<std::string> found;
    find_folder_images(folder, &found);
    std::sort(found.begin(), found.end());
    paths->insert(paths->end(), found.begin(), found.end());
}

// The folder part of a full path, "" when it has none.
static std::string folder_of(const std::string& path)
{
    const size_t backslash = path.find_last_of('\\');
    return backslash == std::string::npos ? std::string() : path.substr(0, backslash);
}

size_t select_paths(const std::vector<std::string>& dropped)
{
    std::vector<std::string> paths;
    for (const std::string& path : dropped) {
        std::wstring wide;
        const DWORD attributes = system_path(path.c_str(), &wide) ? GetFileAttributesW(wide.c_str())
                                                                  : INVALID_FILE_ATTRIBUTES;
        if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY))
            add_folder_images(path, &paths);
        else
            paths.push_back(path); // a name that is gone is skipped by the fill
    }

    // One folder: that folder and bare names, as a multi-selection there.
    // Several, or a folder too long to be the current one: an empty folder
    // and the full paths, opened as they are.
    std::string folder = paths.empty() ? std::string() : folder_of(paths[0]);
    for (const std::string& path : paths)
        if (folder_of(path) != folder)
            folder.clear();
    if (folder.size() >= MAX_PATH - 2)
        folder.clear();
    const bool one_folder = !folder.empty();

    // Strings that do not fit the buffer, with the two closing NULs, are left out.
    size_t used = 0, count = 0;
    auto append = [&used](const std::string& text) {
        if (used + text.size() + 2 > SELECTION_SIZE)
            return false;
        std::memcpy(g_selection + used, text.c_str(), text.size() + 1);
        used += text.size() + 1;
        return true;
    };
    append(folder);
    for (const std::string& path : paths) {
        if (!append(one_folder ? path.substr(folder.size() + 1) : path))
            break;
        ++count;
    }
    g_selection[used] = '\0';
    if (count == 0)
        g_selection[0] = g_selection[1] = '\0'; // nothing: the empty selection
    return count;
}

size_t select_dropped_files(HDROP drop)
{
    std::vector<std::string> dropped;
    const UINT count = DragQueryFileA(drop, 0xFFFFFFFF, nullptr, 0);
    for (UINT i = 0; i < count; ++i) {
        const UINT length = DragQueryFileA(drop, i, nullptr, 0);
        std::string path(length + 1, '\0');
        if (DragQueryFileA(drop, i, &path[0], length + 1) == length) {
            path.resize(length);
            dropped.push_back(path);
        }
    }
    return select_paths(dropped);
}

// ---- The file-open dialog ----

// Makes folder the current directory, drive included. A bare drive such
// as "C:" means its root: "C:" alone would be whatever folder that drive
// was last left in.
static void change_to_folder(const char* folder)
{
    char path[MAX_PATH + 2];
    if (std::strlen(folder) == 2 && folder[1] == ':') {
        std::snprintf(path, sizeof path, "%s\\", folder);
        folder = path;
    }
    _chdir(folder);
}

// Runs the file-open dialog owned by owner; on success the result replaces
// the selection. Returns the dialog's result; without memory for the
// dialog's buffer, 1 and no dialog.
int run_open_dialog(HWND owner)
{
    // Cleared, so that a one-file result is always followed by an empty string.
    char* buffer = static_cast<char*>(std::calloc(SELECTION_SIZE, 1));
    if (!buffer)
        return 1;
    // The folder last used, with a backslash after it, so that the dialog
    // opens in that folder with an empty name; a bare name stays as it is.
    // Files from several folders (dropped, or given on the command line):
    // the folder of the first of them.
    const char* first = g_selection;
    const char* second = first + strnlen(first, SELECTION_SIZE - 1) + 1;
    std::string from_paths;
    if (*first == '\0' && *second != '\0') {
        from_paths = second;
        from_paths.erase(
            from_paths.find_last_of('\\') == std::string::npos ? 0 : from_paths.find_last_of('\\'));
        first = from_paths.c_str();
    }
    const size_t length = std::strlen(first);
    const bool folder = *second != '\0' && length > 0 && first[length - 1] != '\\';
    std::snprintf(buffer, DIALOG_MAX_FILE, "%s%s", first, folder ? "\\" : "");

    OPENFILENAMEA dialog = {};
    dialog.lStructSize = sizeof dialog;
    dialog.hwndOwner = owner;
    // The filter's names in the user's language, each with its pattern.
    const std::string filter = std::string(tr("TRD Files (*.trd)")) + '\0' + "*.trd" + '\0' +
                               tr("All Files (*.*)") + '\0' + "*.*" + '\0';
    dialog.lpstrFilter = filter.c_str();
    dialog.lpstrFile = buffer;
    dialog.nMaxFile = DIALOG_MAX_FILE;
    dialog.Flags = OFN_EXPLORER | OFN_FILEMUSTEXIST | OFN_PATHMUSTEXIST | OFN_ALLOWMULTISELECT |
                   OFN_HIDEREADONLY;
    dialog.lpstrDefExt = "trd";
    const int result = GetOpenFileNameA(&dialog);
    if (result) {
        std::memcpy(g_selection, buffer, SELECTION_SIZE);
    } else {
        format_bounded(buffer, SELECTION_SIZE, tr("Error %0lXh"),
                       static_cast<unsigned long>(CommDlgExtendedError()));
        status_print(buffer);
    }
    std::free(buffer);
    return result;
}

// ---- The selection read back ----

std::vector<const char*> selection_names()
{
    // Folder form: a folder, then names (an empty folder before full paths,
    // for files dropped from several folders). Single form: one path, then an
    // empty string; its last backslash becomes the end of the folder, so
    // that the selection reads as a folder with one name from now on.
    const char* const end = g_selection + SELECTION_SIZE;
    char* first = g_selection;
    char* name = first + strnlen(first, SELECTION_SIZE - 1) + 1;
    std::vector<const char*> names;
    if (*name != '\0') {
        // An empty folder: names from several folders, each a full path.
        if (*first != '\0')
            change_to_folder(first);
    } else {
        char* backslash = std::strrchr(first, '\\');
        if (backslash) {
            *backslash = '\0';
            change_to_folder(first);
            name = backslash + 1;
        } else {
            name = first;
        }
        if (*name == '\0')
            return names;
    }
    while (name < end && *name != '\0') {
        names.push_back(name);
        name += strnlen(name, static_cast<size_t>(end - name)) + 1;
    }
    return names;
}
