// Files named by UTF-8 paths, on every platform. Windows opens them through
// its wide (UTF-16) calls, so that any name works there, not only the names
// the ANSI code page can spell.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

namespace vsthost {

std::FILE* openFile(const std::string& path, const char* mode);
bool readFile(const std::string& path, std::string& contents);
bool removeFile(const std::string& path);
// Moves `from` over `to`, replacing it.
bool replaceFile(const std::string& from, const std::string& to);
bool isDirectory(const std::string& path);

#ifdef _WIN32
std::wstring widen(const std::string& utf8);
std::string narrow(const std::wstring& wide);
// The program's arguments as Windows hands them in (UTF-16), in UTF-8.
std::vector<std::string> utf8Arguments();
#endif

}  // namespace vsthost
