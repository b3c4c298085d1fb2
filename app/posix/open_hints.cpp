#include "app/open_hints.h"

#include <dirent.h>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <fstream>
#include <vector>

#include "async32/port_list.h"
#include "async32/device_name.h"
#include "async32/errors.h"

namespace {

bool InGroupNow(gid_t group) {
  std::vector<gid_t> groups(static_cast<size_t>(std::max(getgroups(0, nullptr), 0)));
  groups.resize(static_cast<size_t>(std::max(getgroups(static_cast<int>(groups.size()), groups.data()), 0)));
  return getegid() == group || std::find(groups.begin(), groups.end(), group) != groups.end();
}

// The user is listed in the group (or has it as login group) in the user
// database: a new login gives the process the group.
bool InGroupOnRecord(const group& g, const passwd& user) {
  if (user.pw_gid == g.gr_gid) return true;
  for (char** member = g.gr_mem; member && *member; ++member) {
    if (std::string(*member) == user.pw_name) return true;
  }
  return false;
}

std::string AccessHint(const std::string& device) {
  struct stat st {};
  const passwd* user = getpwuid(geteuid());
  const group* g = stat(device.c_str(), &st) == 0 ? getgrgid(st.st_gid) : nullptr;
  if (!g || !user) return "";
  const std::string name = g->gr_name, login = user->pw_name;
  if (InGroupNow(g->gr_gid)) return "";
  if (InGroupOnRecord(*g, *user)) {
    return device + " belongs to the group " + name + ". " + login +
           " is in it, but not since this login: log out and in again (or run 'newgrp " + name +
           "').";
  }
  return device + " belongs to the group " + name + ", and " + login +
         " is not in it. Join it with\n  sudo usermod -aG " + name + " " + login +
         "\nthen log out and in again.";
}

// The programs that have `device` open, as /proc shows them.
std::string BusyHint(const std::string& device, const std::string& procRoot) {
  char real[PATH_MAX];
  if (!realpath(device.c_str(), real)) return "";
  std::string holders;
  DIR* proc = opendir(procRoot.c_str());
  if (!proc) return "";
  while (const dirent* p = readdir(proc)) {
    const std::string pid = p->d_name;
    if (pid.find_first_not_of("0123456789") != std::string::npos) continue;
    const std::string fdDir = procRoot + "/" + pid + "/fd";
    DIR* fds = opendir(fdDir.c_str());
    if (!fds) continue;
    bool holds = false;
    while (const dirent* f = readdir(fds)) {
      char target[PATH_MAX];
      const ssize_t n = readlink((fdDir + "/" + f->d_name).c_str(), target, sizeof target - 1);
      if (n > 0 && std::string(target, static_cast<size_t>(n)) == real) holds = true;
    }
    closedir(fds);
    if (!holds) continue;
    std::string command;
    std::getline(std::ifstream(procRoot + "/" + pid + "/comm"), command);
    // A program names itself: its name may hold anything, escapes included.
    holders += (holders.empty() ? "" : ", ") + async32::Printable(command) + " (pid " + pid + ")";
  }
  closedir(proc);
  if (holders.empty()) return device + " is in use by another program.";
  return device + " is in use by " + holders + ".";
}

// The file a name was looked up as, and the serial ports there are instead.
std::string MissingHint(const std::string& device) {
  std::string ports;
  for (const auto& port : async32::ListSerialPorts()) ports += (ports.empty() ? "" : ", ") + port.path;
  return "There is no " + device + ". " +
         (ports.empty() ? "This machine has no serial port." : "Serial ports here: " + ports + ".");
}

}  // namespace

std::string OpenHint(const std::string& path, int error, const std::string& procRoot) {
  const std::string device = async32::DevicePath(path);
  switch (async32::ClassifyError(error)) {
    case async32::ErrorKind::kDenied: return AccessHint(device);
    case async32::ErrorKind::kBusy: return BusyHint(device, procRoot);
    case async32::ErrorKind::kNotFound: return MissingHint(device);
    default: break;
  }
  return "";
}
