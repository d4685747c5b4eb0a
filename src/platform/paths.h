// Splitting and completing file paths the way the program's folders work:
// the folder a file lies in, and a name as seen from the current folder.
#pragma once

#include <string>

// The folder part of a path: "" when it names no folder, "/" for a file
// at the root.
std::string FolderOf(const std::string& path);

// The path as seen from the current folder, for use after changing it.
std::string AbsolutePath(const std::string& path);

// Makes the folder of the file the current folder (nothing to do for a bare
// name); false when it cannot be entered.
bool EnterFolderOf(const std::string& path);

// The folder of the running executable; "" when it cannot be found out.
std::string ExecutableFolder();

// Where the program's bitmaps, sample model and manual lie for an executable
// in `exeFolder`: that folder itself when the panel bitmap is there (a build
// folder), else the installed data folder found relative to it (so any
// prefix and a staged DESTDIR work), else `exeFolder` all the same.
std::string DataFolderFor(const std::string& exeFolder);
// DataFolderFor(ExecutableFolder()); "" when the executable cannot be found.
std::string ProgramDataFolder();

// The file a name written on another system means: the name itself when it
// exists; otherwise with backslashes taken as folder separators and each
// part matched without regard to case (the first match in name order).
// False, with *found set to the name unchanged, when nothing matches.
bool FindFileAnyCase(const std::string& name, std::string* found);
