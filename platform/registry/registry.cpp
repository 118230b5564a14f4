#include "platform/registry/registry.h"

#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <map>
#include <memory>
#include <mutex>

#include "platform/base/paths.h"
#include "platform/base/text.h"

namespace plat::reg {
namespace {

std::atomic<int> gBusyTimeoutMs{5000};

std::string fold(std::string_view s) {
  std::string out(s);
  for (char& c : out)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return out;
}

bool validKeyName(std::string_view n) {
  return !n.empty() && n.size() <= kMaxKeyNameLength && n.find('\0') == std::string_view::npos;
}

bool validValueName(std::string_view n) {
  return n.size() <= kMaxValueNameLength && n.find('\0') == std::string_view::npos;
}

// Splits "a\\b\\c" into its components; nothing when a component is unacceptable.
std::optional<std::vector<std::string_view>> splitPath(std::string_view path) {
  std::vector<std::string_view> parts;
  while (!path.empty()) {
    size_t p = path.find('\\');
    std::string_view part = path.substr(0, p);
    if (!part.empty()) {
      if (!validKeyName(part) || parts.size() >= kMaxDepth) return std::nullopt;
      parts.push_back(part);
    }
    if (p == std::string_view::npos) break;
    path.remove_prefix(p + 1);
  }
  return parts;
}

std::string joinPath(std::string_view base, std::string_view sub) {
  std::string out(base);
  auto parts = splitPath(sub);
  if (!parts) return out;
  for (auto p : *parts) {
    if (!out.empty()) out.push_back('\\');
    out.append(p);
  }
  return out;
}

Status fromSqlite(int rc) {
  switch (rc & 0xff) {
    case SQLITE_OK:
    case SQLITE_DONE:
    case SQLITE_ROW:
      return Status::Ok;
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
      return Status::Busy;
    case SQLITE_READONLY:
    case SQLITE_PERM:
    case SQLITE_AUTH:
      return Status::AccessDenied;
    case SQLITE_CONSTRAINT:
      return Status::NotFound;  // the key a value or subkey was written to is gone
    default:
      return Status::Failed;
  }
}

Error failure(Status s, std::string message) { return Error{static_cast<int>(s), std::move(message)}; }

const char* hiveName(Hive h) {
  switch (h) {
    case Hive::LocalMachine:
      return "HKLM";
    case Hive::CurrentUser:
      return "HKCU";
    case Hive::ClassesRoot:
      return "HKCR";
  }
  return "?";
}

std::string keyName(Hive h, std::string_view path) {
  std::string out = hiveName(h);
  if (!path.empty()) out.append("\\").append(path);
  return out;
}

std::string quotedName(std::string_view name) { return "'" + std::string(name) + "'"; }

// A prepared statement, reset and unbound whenever a use ends.
class Stmt {
 public:
  explicit Stmt(sqlite3_stmt* s) : s_(s) {}
  ~Stmt() {
    if (s_) {
      sqlite3_reset(s_);
      sqlite3_clear_bindings(s_);
    }
  }
  Stmt(const Stmt&) = delete;
  Stmt& operator=(const Stmt&) = delete;
  bool ok() const { return s_ != nullptr; }
  Stmt& bind(int i, std::int64_t v) {
    sqlite3_bind_int64(s_, i, v);
    return *this;
  }
  Stmt& bind(int i, std::string_view t) {
    sqlite3_bind_text(s_, i, t.data(), static_cast<int>(t.size()), SQLITE_TRANSIENT);
    return *this;
  }
  Stmt& bindBlob(int i, const std::vector<std::uint8_t>& b) {
    sqlite3_bind_blob(s_, i, b.empty() ? "" : static_cast<const void*>(b.data()), static_cast<int>(b.size()),
                      SQLITE_TRANSIENT);
    return *this;
  }
  int step() { return s_ ? sqlite3_step(s_) : SQLITE_ERROR; }
  std::int64_t i64(int c) { return sqlite3_column_int64(s_, c); }
  std::string text(int c) {
    const unsigned char* t = sqlite3_column_text(s_, c);
    int n = sqlite3_column_bytes(s_, c);
    return t ? std::string(reinterpret_cast<const char*>(t), static_cast<size_t>(n)) : std::string();
  }
  std::optional<std::vector<std::uint8_t>> blob(int c) {
    const void* b = sqlite3_column_blob(s_, c);
    int n = sqlite3_column_bytes(s_, c);
    if (n < 0 || static_cast<size_t>(n) > kMaxDataSize) return std::nullopt;
    auto p = static_cast<const std::uint8_t*>(b);
    return p ? std::vector<std::uint8_t>(p, p + n) : std::vector<std::uint8_t>();
  }

 private:
  sqlite3_stmt* s_;
};

enum Q {
  qChild,
  qInsertKey,
  qKeyExists,
  qDeleteKey,
  qGetValue,
  qSetValue,
  qDeleteValue,
  qSubKeyAt,
  qValueAt,
  qSubKeyCount,
  qValueCount,
  qSubKeys,
  qValues,
  qCount
};

const char* const kQueries[qCount] = {
    "SELECT id, name FROM keys WHERE parent = ?1 AND lname = ?2",
    "INSERT INTO keys(parent, name, lname) VALUES(?1, ?2, ?3)",
    "SELECT 1 FROM keys WHERE id = ?1",
    "DELETE FROM keys WHERE id = ?1",
    "SELECT name, type, data FROM vals WHERE key = ?1 AND lname = ?2",
    ("INSERT INTO vals(key, name, lname, type, data) VALUES(?1, ?2, ?3, ?4, ?5) "
     "ON CONFLICT(key, lname) DO UPDATE SET type = excluded.type, data = excluded.data"),
    "DELETE FROM vals WHERE key = ?1 AND lname = ?2",
    "SELECT name FROM keys WHERE parent = ?1 ORDER BY lname LIMIT 1 OFFSET ?2",
    "SELECT name, type, data FROM vals WHERE key = ?1 ORDER BY rowid LIMIT 1 OFFSET ?2",
    "SELECT count(*) FROM keys WHERE parent = ?1",
    "SELECT count(*) FROM vals WHERE key = ?1",
    "SELECT name FROM keys WHERE parent = ?1 ORDER BY lname",
    "SELECT name, type, data FROM vals WHERE key = ?1 ORDER BY rowid",
};

const char kSchema[] =
    "CREATE TABLE IF NOT EXISTS keys("
    "  id INTEGER PRIMARY KEY,"
    "  parent INTEGER REFERENCES keys(id) ON DELETE CASCADE,"
    "  name TEXT NOT NULL,"
    "  lname TEXT NOT NULL);"
    "CREATE UNIQUE INDEX IF NOT EXISTS keys_child ON keys(parent, lname);"
    "CREATE TABLE IF NOT EXISTS vals("
    "  key INTEGER NOT NULL REFERENCES keys(id) ON DELETE CASCADE,"
    "  name TEXT NOT NULL,"
    "  lname TEXT NOT NULL,"
    "  type INTEGER NOT NULL,"
    "  data BLOB NOT NULL);"
    "CREATE UNIQUE INDEX IF NOT EXISTS vals_name ON vals(key, lname);"
    "INSERT OR IGNORE INTO keys(id, parent, name, lname) VALUES(1, NULL, '', '');"
    "PRAGMA user_version = 1;";

constexpr std::int64_t kRootId = 1;

// One open hive file. A process-wide mutex serialises its use; SQLite's own file locks
// serialise the processes.
class Db {
 public:
  explicit Db(std::filesystem::path file, bool privateFile) : file_(std::move(file)), pid_(getpid()) {
    // A directory that cannot be made shows below as a hive that cannot be written.
    auto dir = paths::ensureDir(file_.parent_path(), privateFile ? 0700 : 0755);
    bool exists = ::access(file_.c_str(), F_OK) == 0;
    bool writable = exists ? ::access(file_.c_str(), W_OK) == 0 : ::access(file_.parent_path().c_str(), W_OK) == 0;
    int flags = SQLITE_OPEN_FULLMUTEX | (writable ? SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE : SQLITE_OPEN_READONLY);
    if (!exists && !writable) {  // nothing to read, nothing we may create
      openError_ =
          failure(Status::NotFound, "no hive file " + file_.string() + (dir ? "" : " (" + dir.message() + ")"));
      return;
    }
    if (int rc = sqlite3_open_v2(file_.c_str(), &db_, flags, nullptr); rc != SQLITE_OK) {
      openError_ = failure(Status::Failed, "cannot open the hive " + file_.string() + ": " + sqlite3_errstr(rc));
      sqlite3_close(db_);
      db_ = nullptr;
      return;
    }
    readOnly_ = !writable;
    sqlite3_busy_timeout(db_, gBusyTimeoutMs.load());
    sqlite3_exec(db_, "PRAGMA foreign_keys = ON", nullptr, nullptr, nullptr);
    if (!readOnly_) {
      if (!exists) ::chmod(file_.c_str(), privateFile ? 0600 : 0644);
      // A rollback journal, not a write-ahead log: a reader without write permission on the
      // hive (the console reading what the agent writes) needs no shared-memory file then.
      sqlite3_exec(db_, "PRAGMA journal_mode = DELETE", nullptr, nullptr, nullptr);
      if (userVersion() != 1) {
        if (exec("BEGIN IMMEDIATE") == SQLITE_OK) {
          if (exec(kSchema) == SQLITE_OK)
            exec("COMMIT");
          else
            exec("ROLLBACK");
        }
      }
    }
  }
  ~Db() {
    for (auto* s : stmts_) sqlite3_finalize(s);
    sqlite3_close(db_);
  }
  Db(const Db&) = delete;
  Db& operator=(const Db&) = delete;

  bool open() const { return db_ != nullptr; }
  // Why open() is false.
  const Error& openError() const { return openError_; }
  // A failed SQLite call as an error of this layer, with SQLite's own words and the hive file.
  Error sqlError(int rc) const {
    Status st = fromSqlite(rc);
    const char* why = db_ ? sqlite3_errmsg(db_) : sqlite3_errstr(rc);
    return failure(st == Status::Ok ? Status::Failed : st,
                   std::string(statusText(st)) + " (" + why + ", " + file_.string() + ")");
  }
  bool readOnly() const { return readOnly_; }
  pid_t pid() const { return pid_; }
  const std::filesystem::path& file() const { return file_; }
  std::mutex& mutex() { return m_; }

  int exec(const char* sql) { return sqlite3_exec(db_, sql, nullptr, nullptr, nullptr); }

  Stmt q(Q which) {
    if (!db_) return Stmt(nullptr);
    if (!stmts_[which]) {
      if (sqlite3_prepare_v3(db_, kQueries[which], -1, SQLITE_PREPARE_PERSISTENT, &stmts_[which], nullptr) !=
          SQLITE_OK) {
        sqlite3_finalize(stmts_[which]);
        stmts_[which] = nullptr;
      }
    }
    return Stmt(stmts_[which]);
  }

  int changes() const { return sqlite3_changes(db_); }
  std::int64_t lastRowId() const { return sqlite3_last_insert_rowid(db_); }

  void setBusyTimeout(int ms) {
    if (db_) sqlite3_busy_timeout(db_, ms);
  }

 private:
  int userVersion() {
    sqlite3_stmt* s = nullptr;
    int v = 0;
    if (sqlite3_prepare_v2(db_, "PRAGMA user_version", -1, &s, nullptr) == SQLITE_OK && sqlite3_step(s) == SQLITE_ROW)
      v = sqlite3_column_int(s, 0);
    sqlite3_finalize(s);
    return v;
  }

  std::filesystem::path file_;
  pid_t pid_;
  sqlite3* db_ = nullptr;
  Error openError_;
  bool readOnly_ = true;
  std::mutex m_;
  sqlite3_stmt* stmts_[qCount] = {};
};

// Hives are opened on first use and kept; the file is looked up each time because the root
// prefix can change (tests move it). After fork() the parent's connections are abandoned, never
// closed: SQLite connections must not cross a fork.
class Hives {
 public:
  static Hives& instance() {
    static Hives* h = new Hives;  // lives until exit; components may use the registry at unload
    return *h;
  }
  Db& get(Hive hive) {
    auto file = hiveFile(hive);
    std::lock_guard<std::mutex> lock(m_);
    if (pid_ != getpid()) {
      // Kept reachable, never closed: closing would touch the parent's locks and journal.
      for (auto& [k, v] : dbs_) abandoned_.push_back(v.release());
      for (auto& v : retired_) abandoned_.push_back(v.release());
      dbs_.clear();
      retired_.clear();
      pid_ = getpid();
    }
    auto& slot = dbs_[file.string()];
    if (slot && !slot->open() && ::access(file.c_str(), F_OK) == 0) {
      // The hive appeared since: open it anew, keeping the old object for threads still using it.
      retired_.push_back(std::move(slot));
    }
    if (!slot) slot = std::make_unique<Db>(file, hive == Hive::CurrentUser);
    return *slot;
  }
  void setBusyTimeout(int ms) {
    std::lock_guard<std::mutex> lock(m_);
    for (auto& [k, v] : dbs_) {
      std::lock_guard<std::mutex> l(v->mutex());
      v->setBusyTimeout(ms);
    }
  }

 private:
  std::mutex m_;
  pid_t pid_ = getpid();
  std::map<std::string, std::unique_ptr<Db>> dbs_;
  std::vector<std::unique_ptr<Db>> retired_;
  std::vector<Db*> abandoned_;
};

Hive storeHive(Hive h) { return h == Hive::ClassesRoot ? Hive::LocalMachine : h; }

// A transaction that rolls back unless committed.
class WriteTxn {
 public:
  explicit WriteTxn(Db& db) : db_(db) {
    if (!db.open() || db.readOnly()) {
      begun_ = failure(Status::AccessDenied, "the hive " + db.file().string() + " cannot be written by this process" +
                                                 (db.open() ? "" : " (" + db.openError().message + ")"));
      return;
    }
    if (int rc = db.exec("BEGIN IMMEDIATE"); rc != SQLITE_OK) {
      begun_ = db.sqlError(rc);
      return;
    }
    active_ = true;
  }
  ~WriteTxn() {
    if (active_) db_.exec("ROLLBACK");
  }
  // Whether the transaction could be started.
  const Result<void>& begun() const { return begun_; }
  Result<void> commit() {
    if (!active_) return begun_;
    int rc = db_.exec("COMMIT");
    if (rc != SQLITE_OK) return db_.sqlError(rc);  // the destructor rolls back
    active_ = false;
    return success();
  }

 private:
  Db& db_;
  Result<void> begun_;
  bool active_ = false;
};

Result<std::int64_t> findChild(Db& db, std::int64_t parent, std::string_view name) {
  if (!db.open()) return db.openError();
  auto s = db.q(qChild);
  s.bind(1, parent).bind(2, fold(name));
  int rc = s.step();
  if (rc == SQLITE_ROW) return s.i64(0);
  if (rc == SQLITE_DONE) return failure(Status::NotFound, "no subkey " + quotedName(name));
  return db.sqlError(rc);
}

Result<std::int64_t> walk(Db& db, std::int64_t from, const std::vector<std::string_view>& parts) {
  std::int64_t id = from;
  for (auto p : parts) {
    auto c = findChild(db, id, p);
    if (!c) return c.error();
    id = *c;
  }
  return id;
}

// Walks a path, creating what is missing; runs inside a write transaction.
Result<std::int64_t> walkCreate(Db& db, std::int64_t from, const std::vector<std::string_view>& parts) {
  std::int64_t id = from;
  for (auto p : parts) {
    auto c = findChild(db, id, p);
    if (c) {
      id = *c;
      continue;
    }
    if (statusOf(c) != Status::NotFound) return c.error();
    auto s = db.q(qInsertKey);
    s.bind(1, id).bind(2, p).bind(3, fold(p));
    int rc = s.step();
    if (rc != SQLITE_DONE) return prefixed("creating " + quotedName(p), db.sqlError(rc));
    id = db.lastRowId();
  }
  return id;
}

// Nothing when the row is not a value this store could have written (damaged data).
std::optional<Value> readValueRow(Stmt& s) {
  Value v;
  v.name = sanitizeUtf8(s.text(0));
  std::int64_t t = s.i64(1);
  switch (t) {
    case 1:
    case 2:
    case 3:
    case 4:
    case 7:
      v.type = static_cast<Type>(t);
      break;
    default:
      return std::nullopt;  // not a type this store writes
  }
  auto d = s.blob(2);
  if (!d) return std::nullopt;
  v.data = std::move(*d);
  return v;
}

}  // namespace

const char* statusText(Status s) {
  switch (s) {
    case Status::Ok:
      return "ok";
    case Status::NotFound:
      return "not found";
    case Status::AccessDenied:
      return "access denied";
    case Status::InvalidArg:
      return "invalid argument";
    case Status::Busy:
      return "hive busy";
    case Status::Failed:
      return "hive unusable";
    case Status::WrongType:
      return "wrong type";
  }
  return "unknown";
}

HRESULT toHresult(Status s) {
  switch (s) {
    case Status::Ok:
      return S_OK;
    case Status::NotFound:
      return hr(0x80070002);  // file not found
    case Status::AccessDenied:
      return E_ACCESSDENIED;
    case Status::InvalidArg:
      return E_INVALIDARG;
    case Status::Busy:
    case Status::Failed:
    case Status::WrongType:
      return E_FAIL;
  }
  return E_FAIL;
}

Status statusOf(const Error& e) {
  if (e.code <= static_cast<int>(Status::Ok) || e.code > static_cast<int>(Status::WrongType)) return Status::Failed;
  return static_cast<Status>(e.code);
}

std::filesystem::path hiveFile(Hive hive) {
  return storeHive(hive) == Hive::CurrentUser ? paths::userConfigDir() / "user.db" : paths::stateDir() / "machine.db";
}

void setBusyTimeoutMs(int ms) {
  gBusyTimeoutMs = ms;
  Hives::instance().setBusyTimeout(ms);
}

// ---- Value ----

Value Value::string(std::string name, std::string_view s, Type t) {
  Value v;
  v.name = std::move(name);
  v.type = t == Type::ExpandString ? Type::ExpandString : Type::String;
  v.data.assign(s.begin(), s.end());
  return v;
}

Value Value::dword(std::string name, std::uint32_t x) {
  Value v;
  v.name = std::move(name);
  v.type = Type::Dword;
  v.data = {static_cast<std::uint8_t>(x), static_cast<std::uint8_t>(x >> 8), static_cast<std::uint8_t>(x >> 16),
            static_cast<std::uint8_t>(x >> 24)};
  return v;
}

Value Value::binary(std::string name, std::vector<std::uint8_t> bytes) {
  Value v;
  v.name = std::move(name);
  v.type = Type::Binary;
  v.data = std::move(bytes);
  return v;
}

Value Value::multiString(std::string name, const std::vector<std::string>& items) {
  Value v;
  v.name = std::move(name);
  v.type = Type::MultiString;
  for (const auto& s : items) {
    // A NUL inside an item would split it on the way back; it ends the item here.
    std::string_view item(s.data(), std::min(s.size(), s.find('\0')));
    v.data.insert(v.data.end(), item.begin(), item.end());
    v.data.push_back(0);
  }
  return v;
}

std::optional<std::string> Value::asString() const {
  if (type != Type::String && type != Type::ExpandString) return std::nullopt;
  std::string_view s(reinterpret_cast<const char*>(data.data()), data.size());
  // Text written by another program may carry its terminator; it is not part of the string.
  s = s.substr(0, s.find('\0'));
  return sanitizeUtf8(s);
}

std::optional<std::uint32_t> Value::asDword() const {
  if (type != Type::Dword || data.size() != 4) return std::nullopt;
  return static_cast<std::uint32_t>(data[0]) | static_cast<std::uint32_t>(data[1]) << 8 |
         static_cast<std::uint32_t>(data[2]) << 16 | static_cast<std::uint32_t>(data[3]) << 24;
}

std::optional<std::vector<std::string>> Value::asMultiString() const {
  if (type != Type::MultiString) return std::nullopt;
  std::vector<std::string> out;
  std::string cur;
  bool pending = false;
  for (auto b : data) {
    if (b == 0) {
      out.push_back(sanitizeUtf8(cur));
      cur.clear();
      pending = false;
    } else {
      cur.push_back(static_cast<char>(b));
      pending = true;
    }
  }
  if (pending) out.push_back(sanitizeUtf8(cur));  // an unterminated last item still counts
  return out;
}

// ---- Key ----

Result<Key> Key::open(Hive hive, std::string_view path) {
  auto name = [&] { return keyName(hive, joinPath("", path)); };
  auto parts = splitPath(path);
  if (!parts) return failure(Status::InvalidArg, name() + ": not a valid key path");
  Db& db = Hives::instance().get(hive);
  std::lock_guard<std::mutex> lock(db.mutex());
  if (!db.open()) return prefixed(name(), db.openError());
  std::int64_t base = kRootId;
  if (hive == Hive::ClassesRoot) {
    auto b = walk(db, kRootId, {"Software", "Classes"});
    if (!b) return prefixed(name(), b.error());
    base = *b;
  }
  auto id = walk(db, base, *parts);
  if (!id) return prefixed(name(), id.error());
  return Key(hive, *id, joinPath("", path));
}

Result<Key> Key::create(Hive hive, std::string_view path) {
  auto parts = splitPath(path);
  if (!parts) return failure(Status::InvalidArg, keyName(hive, path) + ": not a valid key path");
  auto k = open(hive, path);
  if (k || statusOf(k) != Status::NotFound) return k;
  std::vector<std::string_view> full;
  if (hive == Hive::ClassesRoot) full = {"Software", "Classes"};
  if (full.size() + parts->size() > kMaxDepth)
    return failure(Status::InvalidArg, keyName(hive, path) + ": the path is too deep");
  full.insert(full.end(), parts->begin(), parts->end());
  return createBelow(hive, kRootId, full, joinPath("", path));
}

Result<Key> Key::createBelow(Hive hive, std::int64_t parent, const std::vector<std::string_view>& parts,
                             std::string path) {
  auto name = [&] { return "creating " + keyName(hive, path); };
  Db& db = Hives::instance().get(hive);
  std::lock_guard<std::mutex> lock(db.mutex());
  WriteTxn txn(db);
  if (!txn.begun()) return prefixed(name(), txn.begun().error());
  auto id = walkCreate(db, parent, parts);
  if (!id) return prefixed(name(), id.error());
  if (auto done = txn.commit(); !done) return prefixed(name(), done.error());
  return Key(hive, *id, std::move(path));
}

Result<Key> Key::openSubKey(std::string_view sub) const {
  auto name = [&] { return keyName(hive_, joinPath(path_, sub)); };
  if (!valid()) return failure(Status::NotFound, name() + ": opened below no key");
  auto parts = splitPath(sub);
  if (!parts) return failure(Status::InvalidArg, name() + ": not a valid key path");
  Db& db = Hives::instance().get(hive_);
  std::lock_guard<std::mutex> lock(db.mutex());
  auto id = walk(db, id_, *parts);
  if (!id) return prefixed(name(), id.error());
  return Key(hive_, *id, joinPath(path_, sub));
}

Result<Key> Key::createSubKey(std::string_view sub) const {
  if (!valid()) return failure(Status::NotFound, keyName(hive_, joinPath(path_, sub)) + ": created below no key");
  auto parts = splitPath(sub);
  if (!parts) return failure(Status::InvalidArg, keyName(hive_, path_) + ": not a valid subkey path");
  auto k = openSubKey(sub);
  if (k || statusOf(k) != Status::NotFound) return k;
  return createBelow(hive_, id_, *parts, joinPath(path_, sub));
}

bool Key::exists() const {
  if (!valid()) return false;
  Db& db = Hives::instance().get(hive_);
  std::lock_guard<std::mutex> lock(db.mutex());
  auto s = db.q(qKeyExists);
  s.bind(1, id_);
  return s.step() == SQLITE_ROW;
}

Result<Value> Key::getValue(std::string_view name) const {
  auto what = [&] { return keyName(hive_, path_) + ": reading " + quotedName(name); };
  if (!valid()) return failure(Status::NotFound, what() + ": no key");
  if (!validValueName(name)) return failure(Status::InvalidArg, what() + ": not a valid value name");
  Db& db = Hives::instance().get(hive_);
  std::lock_guard<std::mutex> lock(db.mutex());
  if (!db.open()) return prefixed(what(), db.openError());
  auto s = db.q(qGetValue);
  s.bind(1, id_).bind(2, fold(name));
  int rc = s.step();
  if (rc == SQLITE_DONE) return failure(Status::NotFound, what() + ": no such value");
  if (rc != SQLITE_ROW) return prefixed(what(), db.sqlError(rc));
  auto v = readValueRow(s);
  if (!v) return failure(Status::Failed, what() + ": the stored value is damaged (" + db.file().string() + ")");
  return std::move(*v);
}

namespace {

const char* typeText(Type t) {
  switch (t) {
    case Type::String:
    case Type::ExpandString:
      return "text";
    case Type::Binary:
      return "binary";
    case Type::Dword:
      return "a 32-bit number";
    case Type::MultiString:
      return "a list of texts";
    default:
      return "of no known type";
  }
}

// The value read as one type: the read's own failure, or WrongType when it holds another.
template <class T, class Convert>
Result<T> readAs(const Key& key, std::string_view name, Type wanted, Convert convert) {
  auto v = key.getValue(name);
  if (!v) return v.error();
  std::optional<T> out = convert(*v);
  if (!out)
    return failure(Status::WrongType, keyName(key.hive(), key.path()) + ": " + quotedName(name) + " is " +
                                          typeText(v->type) + ", not " + typeText(wanted));
  return std::move(*out);
}

}  // namespace

Result<std::string> Key::getString(std::string_view name) const {
  return readAs<std::string>(*this, name, Type::String, [](const Value& v) { return v.asString(); });
}

Result<std::uint32_t> Key::getDword(std::string_view name) const {
  return readAs<std::uint32_t>(*this, name, Type::Dword, [](const Value& v) { return v.asDword(); });
}

Result<std::vector<std::uint8_t>> Key::getBinary(std::string_view name) const {
  return readAs<std::vector<std::uint8_t>>(*this, name, Type::Binary, [](const Value& v) {
    return v.type == Type::Binary ? std::optional(v.data) : std::nullopt;
  });
}

Result<std::vector<std::string>> Key::getMultiString(std::string_view name) const {
  return readAs<std::vector<std::string>>(*this, name, Type::MultiString,
                                          [](const Value& v) { return v.asMultiString(); });
}

namespace {

Result<void> checkValue(const Value& v) {
  if (!validValueName(v.name)) return failure(Status::InvalidArg, "not a valid value name");
  if (v.data.size() > kMaxDataSize)
    return failure(Status::InvalidArg, "data too large (" + std::to_string(v.data.size()) + " bytes)");
  switch (v.type) {
    case Type::String:
    case Type::ExpandString:
    case Type::Binary:
    case Type::MultiString:
      return success();
    case Type::Dword:
      if (v.data.size() == 4) return success();
      return failure(Status::InvalidArg, "a 32-bit number must be 4 bytes");
    default:
      return failure(Status::InvalidArg, "not a type this store writes");
  }
}

}  // namespace

Result<void> Key::setValue(const Value& v) const { return setValues(std::span<const Value>(&v, 1)); }

Result<void> Key::setValues(std::span<const Value> values) const {
  auto where = [&] { return keyName(hive_, path_); };
  auto writing = [&](const Value& v) { return where() + ": writing " + quotedName(v.name); };
  if (!valid()) return failure(Status::NotFound, where() + ": written to no key");
  for (const Value& v : values)
    if (auto ok = checkValue(v); !ok) return prefixed(writing(v), ok.error());
  Db& db = Hives::instance().get(hive_);
  std::lock_guard<std::mutex> lock(db.mutex());
  WriteTxn txn(db);
  if (!txn.begun()) return prefixed(where() + ": writing", txn.begun().error());
  for (const Value& v : values) {
    auto s = db.q(qSetValue);
    s.bind(1, id_).bind(2, v.name).bind(3, fold(v.name)).bind(4, static_cast<std::int64_t>(v.type)).bindBlob(5, v.data);
    int rc = s.step();
    if (rc != SQLITE_DONE) return prefixed(writing(v), db.sqlError(rc));
  }
  if (auto done = txn.commit(); !done) return prefixed(where() + ": writing", done.error());
  return success();
}

Result<void> Key::setString(std::string_view name, std::string_view s) const {
  return setValue(Value::string(std::string(name), s));
}
Result<void> Key::setExpandString(std::string_view name, std::string_view s) const {
  return setValue(Value::string(std::string(name), s, Type::ExpandString));
}
Result<void> Key::setDword(std::string_view name, std::uint32_t v) const {
  return setValue(Value::dword(std::string(name), v));
}
Result<void> Key::setBinary(std::string_view name, const std::vector<std::uint8_t>& bytes) const {
  return setValue(Value::binary(std::string(name), bytes));
}
Result<void> Key::setMultiString(std::string_view name, const std::vector<std::string>& items) const {
  return setValue(Value::multiString(std::string(name), items));
}

Result<void> Key::deleteValue(std::string_view name) const {
  auto what = [&] { return keyName(hive_, path_) + ": deleting " + quotedName(name); };
  if (!valid()) return failure(Status::NotFound, what() + ": no key");
  if (!validValueName(name)) return failure(Status::InvalidArg, what() + ": not a valid value name");
  Db& db = Hives::instance().get(hive_);
  std::lock_guard<std::mutex> lock(db.mutex());
  WriteTxn txn(db);
  if (!txn.begun()) return prefixed(what(), txn.begun().error());
  {
    auto s = db.q(qDeleteValue);
    s.bind(1, id_).bind(2, fold(name));
    int rc = s.step();
    if (rc != SQLITE_DONE) return prefixed(what(), db.sqlError(rc));
    if (db.changes() == 0) return failure(Status::NotFound, what() + ": no such value");
  }
  if (auto done = txn.commit(); !done) return prefixed(what(), done.error());
  return success();
}

Result<void> Key::deleteSubKey(std::string_view sub) const {
  auto what = [&] { return "deleting " + keyName(hive_, joinPath(path_, sub)); };
  if (!valid()) return failure(Status::NotFound, what() + ": no key");
  auto parts = splitPath(sub);
  if (!parts || parts->empty()) return failure(Status::InvalidArg, what() + ": not a valid subkey path");
  Db& db = Hives::instance().get(hive_);
  std::lock_guard<std::mutex> lock(db.mutex());
  WriteTxn txn(db);
  if (!txn.begun()) return prefixed(what(), txn.begun().error());
  auto id = walk(db, id_, *parts);
  if (!id) return prefixed(what(), id.error());
  {
    auto s = db.q(qDeleteKey);
    s.bind(1, *id);
    int rc = s.step();
    if (rc != SQLITE_DONE) return prefixed(what(), db.sqlError(rc));
  }
  if (auto done = txn.commit(); !done) return prefixed(what(), done.error());
  return success();
}

namespace {

// Runs `body(db, what)` for a listing of the key `id`, under the hive's lock, once the hive
// answers and the key is still there; `what` names the key and what is being done.
template <class Body>
auto listKey(Hive hive, std::int64_t id, const std::string& path, const char* doing, Body body)
    -> decltype(body(std::declval<Db&>(), std::string())) {
  const std::string what = keyName(hive, path) + ": " + doing;
  if (id == 0) return failure(Status::NotFound, what + ": no key");
  Db& db = Hives::instance().get(hive);
  std::lock_guard<std::mutex> lock(db.mutex());
  if (!db.open()) return prefixed(what, db.openError());
  auto s = db.q(qKeyExists);
  s.bind(1, id);
  const int rc = s.step();
  if (rc == SQLITE_DONE) return failure(Status::NotFound, what + ": the key is gone");
  if (rc != SQLITE_ROW) return prefixed(what, db.sqlError(rc));
  return body(db, what);
}

Error damagedValue(const std::string& what, const Db& db) {
  return failure(Status::Failed, what + ": a stored value is damaged (" + db.file().string() + ")");
}

// The one row at `index` of a listing query, read by `read`; nothing past the end.
template <class T, class Read>
Result<std::optional<T>> rowAt(Db& db, Q query, std::int64_t id, std::size_t index, const std::string& what,
                               Read read) {
  if (index > static_cast<std::size_t>(INT64_MAX)) return std::optional<T>{};
  auto s = db.q(query);
  s.bind(1, id).bind(2, static_cast<std::int64_t>(index));
  const int rc = s.step();
  if (rc == SQLITE_DONE) return std::optional<T>{};
  if (rc != SQLITE_ROW) return prefixed(what, db.sqlError(rc));
  auto row = read(s);
  if (!row) return damagedValue(what, db);
  return std::optional<T>(std::move(*row));
}

// Every row of a listing query, read by `read`.
template <class T, class Read>
Result<std::vector<T>> allRows(Db& db, Q query, std::int64_t id, const std::string& what, Read read) {
  auto s = db.q(query);
  s.bind(1, id);
  std::vector<T> out;
  int rc;
  while ((rc = s.step()) == SQLITE_ROW) {
    auto row = read(s);
    if (!row) return damagedValue(what, db);
    out.push_back(std::move(*row));
  }
  if (rc != SQLITE_DONE) return prefixed(what, db.sqlError(rc));
  return out;
}

Result<std::size_t> countRows(Db& db, Q query, std::int64_t id, const std::string& what) {
  auto s = db.q(query);
  s.bind(1, id);
  const int rc = s.step();
  if (rc != SQLITE_ROW) return prefixed(what, db.sqlError(rc));
  return static_cast<std::size_t>(s.i64(0));
}

std::optional<std::string> readName(Stmt& s) { return sanitizeUtf8(s.text(0)); }

}  // namespace

Result<std::optional<std::string>> Key::subKeyName(std::size_t index) const {
  return listKey(hive_, id_, path_, "listing subkeys", [&](Db& db, const std::string& what) {
    return rowAt<std::string>(db, qSubKeyAt, id_, index, what, readName);
  });
}

Result<std::optional<Value>> Key::valueAt(std::size_t index) const {
  return listKey(hive_, id_, path_, "listing values", [&](Db& db, const std::string& what) {
    return rowAt<Value>(db, qValueAt, id_, index, what, readValueRow);
  });
}

Result<std::vector<std::string>> Key::subKeyNames() const {
  return listKey(hive_, id_, path_, "listing subkeys", [&](Db& db, const std::string& what) {
    return allRows<std::string>(db, qSubKeys, id_, what, readName);
  });
}

Result<std::vector<Value>> Key::values() const {
  return listKey(hive_, id_, path_, "listing values",
                 [&](Db& db, const std::string& what) { return allRows<Value>(db, qValues, id_, what, readValueRow); });
}

Result<std::size_t> Key::subKeyCount() const {
  return listKey(hive_, id_, path_, "counting subkeys",
                 [&](Db& db, const std::string& what) { return countRows(db, qSubKeyCount, id_, what); });
}

Result<std::size_t> Key::valueCount() const {
  return listKey(hive_, id_, path_, "counting values",
                 [&](Db& db, const std::string& what) { return countRows(db, qValueCount, id_, what); });
}

Result<void> deleteKey(Hive hive, std::string_view path) {
  auto parts = splitPath(path);
  if (!parts || parts->empty())
    return failure(Status::InvalidArg, "deleting " + keyName(hive, path) + ": not a valid key path");
  auto root = Key::open(hive, "");
  if (!root) return prefixed("deleting " + keyName(hive, joinPath("", path)), root.error());
  return root->deleteSubKey(path);
}

}  // namespace plat::reg
