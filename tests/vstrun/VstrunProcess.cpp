#include "VstrunProcess.h"

#include <cstdio>
#include <stdexcept>

#ifdef _WIN32
#include <windows.h>
#endif
#include <sndfile.h>

#include "vsthost/Files.h"

#ifndef _WIN32
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace vtest {

namespace {

std::string scratchRoot() { return VSTRUN_SCRATCH_DIR; }

}  // namespace

bool fileExists(const std::string& path) {
  std::FILE* f = vsthost::openFile(path, "rb");
  if (f) std::fclose(f);
  return f != nullptr;
}

void writeFile(const std::string& path, const std::string& bytes) {
  std::FILE* f = vsthost::openFile(path, "wb");
  const bool written = f && std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  if ((f && std::fclose(f) != 0) || !written) throw std::runtime_error("cannot write " + path);
}

std::string readFile(const std::string& path) {
  std::string bytes;
  vsthost::readFile(path, bytes);
  return bytes;
}

void makeDir(const std::string& path) {
#ifdef _WIN32
  CreateDirectoryW(vsthost::widen(path).c_str(), nullptr);
#else
  mkdir(path.c_str(), 0755);
#endif
  if (!vsthost::isDirectory(path)) throw std::runtime_error("cannot create the folder " + path);
}

SNDFILE* openSound(const std::string& path, int mode, SF_INFO* info) {
#ifdef _WIN32
  return sf_wchar_open(vsthost::widen(path).c_str(), mode, info);
#else
  return sf_open(path.c_str(), mode, info);
#endif
}

std::string fixturePath(const std::string& name) { return std::string(VSTRUN_FIXTURE_DIR) + "/" + name + VSTRUN_MODULE_SUFFIX; }

#ifdef _WIN32
std::vector<std::string> listDir(const std::string& dir) {
  std::vector<std::string> names;
  WIN32_FIND_DATAA fd;
  HANDLE h = FindFirstFileA((dir + "\\*").c_str(), &fd);
  if (h == INVALID_HANDLE_VALUE) return names;
  do {
    const std::string n = fd.cFileName;
    if (n != "." && n != "..") names.push_back(n);
  } while (FindNextFileA(h, &fd));
  FindClose(h);
  return names;
}

std::string scratchDir(const std::string& name) {
  const std::string root = scratchRoot();
  CreateDirectoryA(root.c_str(), nullptr);
  const std::string dir = root + "/" + name;
  CreateDirectoryA(dir.c_str(), nullptr);
  for (const std::string& f : listDir(dir)) DeleteFileA((dir + "/" + f).c_str());
  return dir;
}

namespace {
std::string quote(const std::string& arg) {
  std::string q = "\"";
  for (char c : arg) {
    if (c == '"') q += '\\';
    q += c;
  }
  return q + "\"";
}
}  // namespace

ProcessResult runVstrun(const std::vector<std::string>& args) {
  ProcessResult result;
  // Fresh names for every run: Wine's background services, started by the
  // first window, inherit and keep the handles of the run that started them.
  static int runs = 0;
  const std::string dir = scratchDir("_process-" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(++runs));
  const std::string outPath = dir + "/out.txt", errPath = dir + "/err.txt";
  SECURITY_ATTRIBUTES sa{sizeof sa, nullptr, TRUE};
  HANDLE out = CreateFileA(outPath.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &sa, CREATE_ALWAYS, 0, nullptr);
  HANDLE err = CreateFileA(errPath.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &sa, CREATE_ALWAYS, 0, nullptr);
  std::string line = quote(VSTRUN_PATH);
  for (const std::string& a : args) line += " " + quote(a);
  STARTUPINFOW si{};
  si.cb = sizeof si;
  si.dwFlags = STARTF_USESTDHANDLES;
  si.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  si.hStdOutput = out;
  si.hStdError = err;
  PROCESS_INFORMATION pi{};
  std::wstring cmd = vsthost::widen(line);  // as Windows hands arguments in: UTF-16
  cmd.push_back(L'\0');
  if (CreateProcessW(nullptr, &cmd[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi)) {
    WaitForSingleObject(pi.hProcess, INFINITE);
    DWORD code = 0;
    GetExitCodeProcess(pi.hProcess, &code);
    result.status = static_cast<int>(code);
    CloseHandle(pi.hProcess);
    CloseHandle(pi.hThread);
  }
  CloseHandle(out);
  CloseHandle(err);
  result.out = readFile(outPath);
  result.err = readFile(errPath);
  // Windows programs end lines with CR LF.
  for (std::string* s : {&result.out, &result.err}) {
    std::string t;
    for (char c : *s)
      if (c != '\r') t += c;
    *s = t;
  }
  return result;
}
#else
std::vector<std::string> listDir(const std::string& dir) {
  std::vector<std::string> names;
  if (DIR* d = opendir(dir.c_str())) {
    while (dirent* e = readdir(d)) {
      const std::string n = e->d_name;
      if (n != "." && n != "..") names.push_back(n);
    }
    closedir(d);
  }
  return names;
}

std::string scratchDir(const std::string& name) {
  const std::string root = scratchRoot();
  mkdir(root.c_str(), 0755);
  const std::string dir = root + "/" + name;
  mkdir(dir.c_str(), 0755);
  for (const std::string& f : listDir(dir)) unlink((dir + "/" + f).c_str());
  return dir;
}

ProcessResult runVstrun(const std::vector<std::string>& args) {
  ProcessResult result;
  const std::string dir = scratchDir("_process-" + std::to_string(getpid()));
  const std::string outPath = dir + "/out.txt", errPath = dir + "/err.txt";
  std::vector<std::string> argv;
  const std::string emulator = VSTRUN_EMULATOR;
  if (!emulator.empty()) argv.push_back(emulator);
  argv.push_back(VSTRUN_PATH);
  argv.insert(argv.end(), args.begin(), args.end());
  std::vector<char*> cargv;
  for (std::string& a : argv) cargv.push_back(&a[0]);
  cargv.push_back(nullptr);
  std::fflush(nullptr);
  const pid_t pid = fork();
  if (pid == 0) {
    const int out = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    dup2(out, 1);
    dup2(err, 2);
    execv(cargv[0], cargv.data());
    _exit(127);
  }
  int status = 0;
  if (pid > 0 && waitpid(pid, &status, 0) == pid) result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  result.out = readFile(outPath);
  result.err = readFile(errPath);
  return result;
}
#endif

void writeWav(const std::string& path, const Wav& wav) {
  SF_INFO info{};
  info.channels = wav.channels;
  info.samplerate = wav.rate;
  info.format = SF_FORMAT_WAV | wav.subtype;
  SNDFILE* f = openSound(path, SFM_WRITE, &info);
  if (!f) throw std::runtime_error("cannot write " + path);
  sf_writef_float(f, wav.samples.data(), wav.frames());
  sf_close(f);
}

Wav readWav(const std::string& path, bool* ok) {
  Wav wav;
  SF_INFO info{};
  SNDFILE* f = openSound(path, SFM_READ, &info);
  *ok = f != nullptr;
  if (!f) return wav;
  wav.channels = info.channels;
  wav.rate = info.samplerate;
  wav.subtype = info.format & SF_FORMAT_SUBMASK;
  wav.samples.resize(static_cast<size_t>(info.frames) * info.channels);
  *ok = sf_readf_float(f, wav.samples.data(), info.frames) == info.frames;
  sf_close(f);
  return wav;
}

std::string midiFile(int format, int division, const std::vector<std::string>& tracks) {
  auto be = [](uint32_t v, int bytes) {
    std::string s;
    for (int i = bytes - 1; i >= 0; --i) s += static_cast<char>((v >> (8 * i)) & 0xFF);
    return s;
  };
  std::string file = "MThd" + be(6, 4) + be(static_cast<uint32_t>(format), 2) +
                     be(static_cast<uint32_t>(tracks.size()), 2) + be(static_cast<uint32_t>(division), 2);
  for (const std::string& t : tracks) file += "MTrk" + be(static_cast<uint32_t>(t.size()), 4) + t;
  return file;
}

}  // namespace vtest
