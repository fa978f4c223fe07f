// Outputs written beside their final names and renamed into place, and the clean-up of their
// temporary files on abnormal termination and on terminating signals.
#include "outputs.h"

#include <cerrno>
#include <climits>
#include <csignal>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace incprep {
namespace {

// The temporary files a signal handler may have to remove. Only plain arrays and flags of
// sig_atomic_t are touched by the handler, and unlink is safe to call from it.
constexpr int kSlots = 4;
char slotPath[kSlots][PATH_MAX];
volatile std::sig_atomic_t slotUsed[kSlots];

extern "C" void removeTemporariesAndDie(int sig) {
  for (int k = 0; k < kSlots; ++k)
    if (slotUsed[k] != 0) (void)unlink(slotPath[k]);
  std::signal(sig, SIG_DFL);
  (void)std::raise(sig);
}

int takeSlot() {
  for (int k = 0; k < kSlots; ++k)
    if (slotUsed[k] == 0) return k;
  return -1;
}

void releaseSlot(t_outputFile &out) {
  if (out.slot >= 0) slotUsed[out.slot] = 0;
  out.slot = -1;
}

// The directory part of `path` ("." when it has none) and its last component.
void splitPath(const std::string &path, std::string &dir, std::string &base) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) {
    dir = ".";
    base = path;
  } else {
    dir = slash == 0 ? "/" : path.substr(0, slash);
    base = path.substr(slash + 1);
  }
}

bool openTemporary(t_outputFile &out) {
  std::string dir;
  std::string base;
  splitPath(out.targetName, dir, base);
  const std::string pattern = dir + "/." + base + ".incprep-XXXXXX";
  const int slot = takeSlot();
  if (slot < 0 || pattern.size() >= PATH_MAX) {
    errno = slot < 0 ? EMFILE : ENAMETOOLONG;
    return false;
  }
  std::memcpy(slotPath[slot], pattern.c_str(), pattern.size() + 1);
  slotUsed[slot] = 1; // before the file exists, so that a signal never misses it
  const int fd = mkstemp(slotPath[slot]);
  if (fd < 0) {
    slotUsed[slot] = 0;
    return false;
  }
  out.slot = slot;
  out.tempName = slotPath[slot];
  out.fp = fdopen(fd, "w");
  if (out.fp == nullptr) {
    const int err = errno;
    close(fd);
    discardOutputFile(out);
    errno = err;
    return false;
  }
  return true;
}

} // namespace

void installOutputSignalHandlers() {
  for (const int sig : {SIGINT, SIGTERM, SIGHUP}) {
    struct sigaction sa {};
    sa.sa_handler = removeTemporariesAndDie;
    sigemptyset(&sa.sa_mask);
    // A signal the caller chose to ignore (nohup) stays ignored.
    struct sigaction old {};
    if (sigaction(sig, nullptr, &old) == 0 && old.sa_handler == SIG_IGN) continue;
    (void)sigaction(sig, &sa, nullptr);
  }
}

bool openOutputFile(t_outputFile &out, int32 loglvl) {
  const char *name = out.finalName.c_str();
  if (loglvl > 0) {
    std::printf("%s %s\n", "Opening Source file ", name);
    std::printf("%s %s\n", "Opening Source file with attributes ", "w");
  }
  out.targetName = out.finalName;
  out.tempName.clear();
  out.fp = nullptr;
  struct stat st {};
  bool direct = false;
  if (lstat(name, &st) == 0 && S_ISLNK(st.st_mode)) {
    // A link is followed: the file it names is replaced, the link stays.
    char resolved[PATH_MAX];
    if (realpath(name, resolved) != nullptr)
      out.targetName = resolved;
    else
      direct = true; // a dangling link: writing through it creates its file
  }
  errno = 0;
  if (!direct && stat(out.targetName.c_str(), &st) == 0) {
    if (S_ISDIR(st.st_mode))
      errno = EISDIR;
    else if (!S_ISREG(st.st_mode))
      direct = true;
  }
  if (errno != EISDIR) {
    if (direct)
      out.fp = std::fopen(name, "w");
    else
      (void)openTemporary(out);
  }
  if (out.fp == nullptr) {
    if (loglvl > 0) {
      const int err = errno;
      std::fflush(stdout);
      errno = err;
      std::perror("FAILURE OPENING SOURCE FILE");
      std::printf("%s %s\n", "FAILURE OPENING SOURCE FILE ", name);
      std::printf("%s %s\n", "FAILURE OPENING SOURCE FILE WITH ATTRIBUTES", "w");
      errno = err;
    }
    return false;
  }
  if (loglvl > 0) std::printf("%s %s\n", "SUCCESSFUL OPEN OF SOURCE FILE ", name);
  return true;
}

bool commitOutputFile(t_outputFile &out) {
  if (out.tempName.empty()) return true;
  struct stat st {};
  mode_t mode = 0;
  if (stat(out.targetName.c_str(), &st) == 0 && S_ISREG(st.st_mode)) {
    mode = st.st_mode & 07777;
  } else {
    const mode_t mask = umask(0);
    umask(mask);
    mode = 0666 & ~mask;
  }
  if (chmod(out.tempName.c_str(), mode) != 0 ||
      std::rename(out.tempName.c_str(), out.targetName.c_str()) != 0) {
    const int err = errno;
    discardOutputFile(out);
    errno = err;
    return false;
  }
  releaseSlot(out);
  return true;
}

void discardOutputFile(t_outputFile &out) {
  if (!out.tempName.empty() && out.slot >= 0) (void)unlink(out.tempName.c_str());
  releaseSlot(out);
  out.tempName.clear();
}

void discardAllOutputFiles() {
  for (int k = 0; k < kSlots; ++k)
    if (slotUsed[k] != 0) {
      (void)unlink(slotPath[k]);
      slotUsed[k] = 0;
    }
}

void touchOutputs(const std::vector<const t_outputFile *> &outputs) {
  for (const t_outputFile *out : outputs) {
    struct stat st {};
    if (stat(out->targetName.c_str(), &st) == 0 && S_ISREG(st.st_mode))
      (void)utimensat(AT_FDCWD, out->targetName.c_str(), nullptr, 0);
  }
}

bool regularFileId(const std::string &name, t_fileId &id) {
  struct stat st {};
  if (stat(name.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
  id.dev = st.st_dev;
  id.ino = st.st_ino;
  return true;
}

} // namespace incprep
