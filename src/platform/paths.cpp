#include "platform/paths.h"

#include <dirent.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <vector>

std::string FolderOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return "";
  return slash == 0 ? "/" : path.substr(0, slash);
}

bool EnterFolderOf(const std::string& path) {
  const std::string folder = FolderOf(path);
  return folder.empty() || chdir(folder.c_str()) == 0;
}

std::string AbsolutePath(const std::string& path) {
  if (path.empty() || path[0] == '/') return path;
  char folder[PATH_MAX];
  if (!getcwd(folder, sizeof folder)) return path;
  return std::string(folder) + "/" + path;
}

std::string ExecutableFolder() {
  char path[PATH_MAX];
  const ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
  if (length <= 0) return "";
  path[length] = '\0';
  return FolderOf(path);
}

namespace {

bool Exists(const std::string& path) {
  struct stat info {};
  return stat(path.c_str(), &info) == 0;
}

bool IsFolder(const std::string& path) {
  struct stat info {};
  return stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

// The entry of `folder` named `part` in any case, the first in name order.
bool MatchInFolder(const std::string& folder, const std::string& part, std::string* entry) {
  DIR* dir = opendir(folder.empty() ? "." : folder.c_str());
  if (!dir) return false;
  bool matched = false;
  while (const dirent* e = readdir(dir)) {
    if (strcasecmp(e->d_name, part.c_str()) != 0) continue;
    if (!matched || std::string(e->d_name) < *entry) *entry = e->d_name;
    matched = true;
  }
  closedir(dir);
  return matched;
}

}  // namespace

// The build passes the installed layout's path from the program's folder to
// the data folder; this default is the GNU one.
#ifndef VORNIX_DATA_FROM_BIN
#define VORNIX_DATA_FROM_BIN "../share/vornix"
#endif

std::string DataFolderFor(const std::string& exeFolder) {
  if (exeFolder.empty() || Exists(exeFolder + "/mater2.bmp")) return exeFolder;
  const std::string installed = exeFolder + "/" VORNIX_DATA_FROM_BIN;
  if (!IsFolder(installed)) return exeFolder;
  // Shown in messages and handed to the help viewer: without the "..".
  char resolved[PATH_MAX];
  return realpath(installed.c_str(), resolved) ? resolved : installed;
}

std::string ProgramDataFolder() { return DataFolderFor(ExecutableFolder()); }

bool FindFileAnyCase(const std::string& name, std::string* found) {
  *found = name;
  if (name.empty()) return false;
  if (Exists(name)) return true;
  std::string path = name;
  for (char& c : path)
    if (c == '\\') c = '/';
  std::string result = path[0] == '/' ? "/" : "";
  for (size_t start = 0; start <= path.size();) {
    const size_t slash = std::min(path.find('/', start), path.size());
    const std::string part = path.substr(start, slash - start);
    start = slash + 1;
    if (part.empty() || part == "." || part == "..") {
      if (part == "..") result += "../";
      continue;
    }
    std::string entry = part;
    if (!Exists(result + part) && !MatchInFolder(result, part, &entry)) return false;
    result += entry;
    if (slash < path.size()) result += '/';
  }
  if (!Exists(result)) return false;
  *found = result;
  return true;
}
