#include "setup/installer/installer.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <map>
#include <set>
#include <system_error>

#include "agent/core/agent_names.h"
#include "msgserver/pellwick_doc.h"
#include "platform/base/paths.h"
#include "platform/kernel/named_objects.h"
#include "platform/base/process.h"
#include "setup/installer/cab_archive.h"

namespace kelm::setup {

namespace fs = std::filesystem;

namespace {

struct Package {
  fs::path file;
  std::string version;
  std::vector<std::string> depends;  // package names only
};

// A staging directory under the state directory (the same file system as the root, so files are
// renamed into place), removed when done.
class Staging {
 public:
  static plat::Result<Staging> make() {
    const fs::path state = plat::paths::stateDir();
    if (auto made = plat::paths::ensureDir(state); !made) return made.error();
    std::string tmpl = (state / "setup-XXXXXX").string();
    if (!::mkdtemp(tmpl.data())) return plat::errnoError("creating a staging directory in " + state.string());
    return Staging(tmpl);
  }
  Staging(Staging&& o) noexcept : dir_(std::move(o.dir_)) { o.dir_.clear(); }
  Staging& operator=(Staging&&) = delete;
  ~Staging() {
    std::error_code ec;
    if (!dir_.empty()) fs::remove_all(dir_, ec);
  }
  const fs::path& dir() const { return dir_; }

 private:
  explicit Staging(fs::path d) : dir_(std::move(d)) {}
  fs::path dir_;
};

std::string trimmed(std::string s) {
  while (!s.empty() && (s.back() == '\n' || s.back() == ' ')) s.pop_back();
  return s;
}

// Runs a step; its failure names the program, its exit code and what it said.
plat::Result<std::string> step(const std::vector<std::string>& argv, bool searchPath = false) {
  auto ran = plat::process::Run(argv, {{}, false, searchPath});
  if (!ran) return ran.error();
  if (ran->exitCode != 0)
    return plat::Error{EIO, argv[0] + " " + (argv.size() > 1 ? argv[1] : std::string()) + " failed (exit code " +
                                std::to_string(ran->exitCode) + ")" +
                                (ran->output.empty() ? std::string() : ": " + trimmed(ran->output))};
  return ran->output;
}

plat::Result<std::string> controlField(const fs::path& deb, const char* name) {
  auto out = step({"dpkg-deb", "-f", deb.string(), name}, true);
  if (!out) return out.error();
  return trimmed(*out);
}

// "a (>= 1), b | c, d" -> the names a, b, c, d.
std::vector<std::string> dependNames(const std::string& depends) {
  std::vector<std::string> names;
  std::string cur;
  bool inVersion = false;
  for (char c : depends + ",") {
    if (c == '(') inVersion = true;
    if (c == ')') inVersion = false;
    if (inVersion || c == ')') continue;
    if (c == ',' || c == '|' || c == ' ') {
      if (!cur.empty()) {
        if (cur.find(':') != std::string::npos) cur.resize(cur.find(':'));
        names.push_back(cur);
      }
      cur.clear();
      continue;
    }
    cur += c;
  }
  return names;
}

// Moves every file of `from` to the same place under `to`, making directories as needed; each
// file is renamed over the old one, so a reader sees the old file or the new one.
plat::Result<void> placeTree(const fs::path& from, const fs::path& to) {
  std::error_code ec;
  for (fs::recursive_directory_iterator it(from, ec), end; !ec && it != end; it.increment(ec)) {
    const fs::path rel = it->path().lexically_relative(from);
    const fs::path dest = to / rel;
    struct stat st {};
    if (::lstat(it->path().c_str(), &st) != 0) return plat::errnoError("reading " + it->path().string());
    if (S_ISDIR(st.st_mode)) {
      if (auto made = plat::paths::ensureDir(dest); !made) return made;
      continue;
    }
    if (::rename(it->path().c_str(), dest.c_str()) != 0) return plat::errnoError("placing " + dest.string());
  }
  if (ec) return plat::Error{ec.value(), "reading " + from.string() + ": " + ec.message()};
  return plat::success();
}

bool chose(const std::vector<const PartPackage*>& parts, const char* word) {
  return std::any_of(parts.begin(), parts.end(), [&](const PartPackage* p) { return std::string(p->word) == word; });
}

}  // namespace

plat::Result<std::vector<std::string>> InstallParts(const std::vector<const PartPackage*>& parts,
                                                    const fs::path& payload) {
  const fs::path root = plat::paths::root();
  const bool machine = root.empty();
  if (machine && ::geteuid() != 0)
    return plat::Error{EPERM, "installing on this machine needs root (KELM_ROOT names a private root instead)"};
  const bool agent = chose(parts, "$Agent"), server = chose(parts, "$Server");
  // A running program would keep its old files and refuse to write its unit.
  if (agent && plat::kernel::NamedMutex::exists(std::string(kelm::agent::kServiceName) + "-Mutex"))
    return plat::Error{EBUSY, "the Message Agent is running; stop it before installing"};
  if (server && plat::kernel::NamedMutex::exists(std::string(kelm::msgserver::kServiceName) + "-Mutex"))
    return plat::Error{EBUSY, "the Message Server is running; stop it before installing"};

  auto staging = Staging::make();
  if (!staging) return staging.error();
  const fs::path packagesDir = staging->dir() / "packages";
  if (auto made = plat::paths::ensureDir(packagesDir); !made) return made.error();
  auto debs = ExtractPackages(payload, packagesDir);
  if (!debs) return debs.error();

  std::map<std::string, Package> index;
  for (const auto& deb : *debs) {
    auto name = controlField(deb, "Package");
    if (!name) return name.error();
    auto version = controlField(deb, "Version");
    if (!version) return version.error();
    auto depends = controlField(deb, "Depends");
    if (!depends) return depends.error();
    index[*name] = Package{deb, *version, dependNames(*depends)};
  }

  // The chosen packages and what they need of ours; other needs are the system's.
  std::vector<std::string> order;
  std::set<std::string> wanted;
  std::vector<std::string> todo{kCommonPackage};
  for (const PartPackage* p : parts) todo.push_back(p->package);
  while (!todo.empty()) {
    const std::string name = todo.front();
    todo.erase(todo.begin());
    if (wanted.count(name)) continue;
    auto it = index.find(name);
    if (it == index.end()) return plat::Error{ENOENT, payload.string() + " holds no package " + name};
    wanted.insert(name);
    order.push_back(name);
    for (const auto& d : it->second.depends)
      if (index.count(d)) todo.push_back(d);
  }

  if (machine) {
    std::vector<std::string> argv{"apt-get", "install", "-y", "--reinstall"};
    for (const auto& name : order) argv.push_back(index[name].file.string());
    if (auto done = step(argv, true); !done) return done.error();
  } else {
    // Everything is unpacked first: a package that fails to unpack changes nothing under the root.
    const fs::path tree = staging->dir() / "tree";
    for (const auto& name : order)
      if (auto done = step({"dpkg-deb", "-x", index[name].file.string(), tree.string()}, true); !done)
        return done.error();
    if (auto placed = placeTree(tree, root); !placed) return placed.error();
  }

  const fs::path prefix = (machine ? fs::path("/") : root) / "usr";
  const fs::path bin = prefix / "bin";
  for (const PartPackage* p : parts) {
    if (!p->library) continue;
    if (auto done = step({(bin / "kelmregsvr").string(), "-s", (prefix / "lib/kelm" / p->library).string()}); !done)
      return done.error();
  }
  if (agent) {
    for (const char* word : {"-RegServer", "-SvcInstall"})
      if (auto done = step({(bin / "halvorn").string(), word}); !done) return done.error();
  }
  if (server) {
    if (auto done = step({(bin / "pellwick").string(), "-SvcInstall"}); !done) return done.error();
  }
  if (machine && (agent || server)) {
    if (auto done = step({"systemctl", "daemon-reload"}, true); !done) return done.error();
    std::vector<std::string> argv{"systemctl", "enable", "--now"};
    if (agent) argv.push_back(std::string(kelm::agent::kServiceName) + ".service");
    if (server) argv.push_back(std::string(kelm::msgserver::kServiceName) + ".service");
    if (auto done = step(argv, true); !done) return done.error();
  }

  std::vector<std::string> lines;
  for (const PartPackage* p : parts)
    lines.push_back(std::string(p->word) + ": " + p->title + " installed (" + p->package + " " +
                    index[p->package].version + ")");
  return lines;
}

}  // namespace kelm::setup
