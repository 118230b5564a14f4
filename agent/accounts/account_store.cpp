#include "agent/accounts/account_store.h"

#include <optional>

#include "agent/accounts/store_file.h"
#include "agent/accounts/store_format.h"
#include "agent/crypto/rsa.h"
#include "platform/base/paths.h"
#include "platform/kernel/module_path.h"

namespace kelm::accounts {

using crypto::RsaPrivateKey;
using crypto::RsaPublicKey;
using plat::E_ACCESSDENIED;
using plat::E_FAIL;
using plat::E_INVALIDARG;
using plat::E_OUTOFMEMORY;
using plat::FAILED;
using plat::HRESULT;
using plat::S_FALSE;
using plat::S_OK;
using plat::SUCCEEDED;

struct AccountStore::OpenAccountData {
  std::string name;
  std::uint32_t rights = 0;
  CryptBuffer namesKey;
  RsaPublicKey ownPublic;
  RsaPrivateKey ownPrivate;
  RsaPublicKey adminPublic;
  Bytes signedRights;                         // record item 2
  Bytes adminKeyItem;                         // record item 4: empty for accounts without the right 2
  std::optional<RsaPrivateKey> adminPrivate;  // held once the administrator proof passed
  CryptBuffer rightsKey;
  Bytes record;  // the record as last read or written, to notice a store replaced underneath
  unsigned uses = 0;
};

namespace {

ByteView text(std::string_view s) { return {reinterpret_cast<const std::uint8_t*>(s.data()), s.size()}; }

Bytes le32(std::uint32_t v) {
  Bytes b(4);
  putLe32(b.data(), v);
  return b;
}

bool validName(std::string_view name) {
  return !name.empty() && name.size() <= kMaxNameLength && name.find('\0') == std::string_view::npos;
}
bool validPassword(std::string_view pw) { return pw.size() <= kMaxPasswordLength; }

struct RecordItems {
  ByteView protectedItems, signedRights, adminKey;
};

std::optional<RecordItems> splitRecord(ByteView record) {
  auto r = readElement(record, 0);
  if (!r || r->tag != kTagRecord || r->size != record.size()) return std::nullopt;
  auto items = readGroup(r->value, kTagItem);
  if (!items || items->size() != 4) return std::nullopt;
  return RecordItems{(*items)[0].value, (*items)[1].value, (*items)[3].value};
}

Bytes makeRecord(ByteView protectedItems, ByteView signedRights, ByteView adminKey) {
  Bytes items;
  putElement(items, kTagItem, protectedItems);
  putElement(items, kTagItem, signedRights);
  putElement(items, kTagItem, {});
  putElement(items, kTagItem, adminKey);
  return element(kTagRecord, items);
}

// Record item 1 before encryption: names key, own public and private key, administrators' public key.
CryptBuffer protectedGroup(const AccountStore::OpenAccountData& a) {
  CryptBuffer g;
  putElement(g.bytes(), kTagProtected, a.namesKey.view());
  putElement(g.bytes(), kTagProtected, a.ownPublic.serialize());
  CryptBuffer priv(a.ownPrivate.serialize());
  putElement(g.bytes(), kTagProtected, priv.view());
  putElement(g.bytes(), kTagProtected, a.adminPublic.serialize());
  return g;
}

HRESULT openProtectedItems(ByteView item, std::string_view password, AccountStore::OpenAccountData& a) {
  auto plain = decryptBlock(item, text(password));
  if (!plain) return E_FAIL;  // wrong password: the block does not decrypt
  auto parts = readGroup(plain->view(), kTagProtected);
  if (!parts || parts->size() != 4 || (*parts)[0].value.size() != 16) return E_FAIL;
  auto ownPub = RsaPublicKey::parse((*parts)[1].value);
  auto ownPriv = RsaPrivateKey::parse((*parts)[2].value);
  auto adminPub = RsaPublicKey::parse((*parts)[3].value);
  if (!ownPub || !ownPriv || !adminPub) return E_FAIL;
  a.namesKey = CryptBuffer(Bytes((*parts)[0].value.begin(), (*parts)[0].value.end()));
  a.ownPublic = *ownPub;
  a.ownPrivate = *ownPriv;
  a.adminPublic = *adminPub;
  return S_OK;
}

// Names list and rights table: '8' { encrypted block of one element per account }.
std::optional<CryptBuffer> openList(ByteView listElement, ByteView key) {
  auto e = readElement(listElement, 0);
  if (!e || e->tag != kTagList) return std::nullopt;
  return decryptBlock(e->value, key);
}

std::optional<std::vector<std::string>> readNames(const StoreImage& img, ByteView key) {
  auto plain = openList(img.namesList(), key);
  if (!plain) return std::nullopt;
  auto items = readGroup(plain->view(), kTagName);
  if (!items || items->size() != img.count()) return std::nullopt;
  std::vector<std::string> names;
  for (const auto& i : *items) names.emplace_back(i.value.begin(), i.value.end());
  return names;
}

std::optional<std::vector<std::uint32_t>> readRights(const StoreImage& img, ByteView key) {
  auto plain = openList(img.rightsTable(), key);
  if (!plain) return std::nullopt;
  auto items = readGroup(plain->view(), kTagRights);
  if (!items || items->size() != img.count()) return std::nullopt;
  std::vector<std::uint32_t> rights;
  for (const auto& i : *items) {
    if (i.value.size() != 4) return std::nullopt;
    rights.push_back(getLe32(i.value.data()));
  }
  return rights;
}

Bytes namesElement(const std::vector<std::string>& names, ByteView key, crypto::RandomPool& pool) {
  Bytes plain;
  for (const auto& n : names) putElement(plain, kTagName, text(n));
  Bytes block = encryptBlock(key, plain, pool);
  return block.empty() ? block : element(kTagList, block);
}

Bytes rightsElement(const std::vector<std::uint32_t>& rights, ByteView key, crypto::RandomPool& pool) {
  Bytes plain;
  for (auto r : rights) putElement(plain, kTagRights, le32(r));
  Bytes block = encryptBlock(key, plain, pool);
  return block.empty() ? block : element(kTagList, block);
}

bool makeKeyPair(crypto::RandomPool& pool, RsaPublicKey& pub, RsaPrivateKey& priv) {
  return crypto::rsaGenerateKeys({512, 1}, pool, pub, priv) == 0;
}

// Applies a set of writes, rebuilding the store larger while an area has no room for them.
template <typename Write>
HRESULT writeWithRoom(StoreImage& img, Write write) {
  for (int attempt = 0; attempt < 16; ++attempt) {
    StoreImage copy = img;
    if (write(copy)) {
      img = std::move(copy);
      return S_OK;
    }
    if (!img.grow()) return E_OUTOFMEMORY;
  }
  return E_FAIL;
}

}  // namespace

// One operation on the file: the lock, the image read at its start, and its commit. A file
// failure answers E_FAIL, with its reason in the store's log.
class AccountStore::Session {
 public:
  explicit Session(const AccountStore& store)
      : file_(store.filePath(), store.dir_ / kTempFileName, store.lockPath()), log_(store.log_) {
    file_.setWritePointHook(store.writePointHook_);
  }
  HRESULT lock() { return check(file_.lock()); }
  HRESULT load() {
    if (HRESULT h = lock(); FAILED(h)) return h;
    auto bytes = file_.read();
    if (!bytes) return check(bytes);
    image = StoreImage::parse(std::move(*bytes));
    if (!image && log_) log_("the account store \"" + file_.path().string() + "\" is damaged");
    return image ? S_OK : E_FAIL;
  }
  // Loads the store and refuses a handle whose account is no longer the one it opened.
  HRESULT loadFor(const OpenAccountData& account);
  HRESULT commit() {
    return check(file_.commit(image->bytes(), [this](const std::string& text) {
      if (log_) log_(text);
    }));
  }

  std::optional<StoreImage> image;

 private:
  template <typename T>
  HRESULT check(const plat::Result<T>& r) const {
    if (r) return S_OK;
    if (log_) log_(r.message());
    return E_FAIL;
  }
  StoreFile file_;
  std::function<void(const std::string&)> log_;
};

std::string AccountStore::FileNameFor(const std::filesystem::path& program) {
  std::filesystem::path name = program.filename();
  if (name.empty() || name == "." || name == "..") return kFallbackFileName;
  return name.replace_extension(".PWD").string();
}

// Without the program's own path the store keeps its fallback name.
std::string AccountStore::DefaultFileName() { return FileNameFor(plat::kernel::modulePath().valueOr({})); }

AccountStore::AccountStore(std::filesystem::path dir, crypto::RandomPool* pool)
    : dir_(dir.empty() ? plat::paths::stateDir() : std::move(dir)), pool_(pool ? pool : &crypto::processRandomPool()) {}

AccountStore::~AccountStore() = default;

AccountStore::OpenAccountData* AccountStore::find(AccountHandle handle) const {
  auto it = open_.find(handle);
  return it == open_.end() ? nullptr : it->second.get();
}

AccountStore::OpenAccountData* AccountStore::findByName(std::string_view name) const {
  for (const auto& [h, a] : open_)
    if (a->name == name) return a.get();
  return nullptr;
}

namespace {

// The requester's account must still be in the store as its handle knows it.
int currentIndex(const AccountStore::OpenAccountData& a, const StoreImage& img) {
  int idx = img.find(a.name);
  if (idx < 0) return -1;
  ByteView rec = img.record(std::size_t(idx));
  return Bytes(rec.begin(), rec.end()) == a.record ? idx : -1;
}

}  // namespace

HRESULT AccountStore::Session::loadFor(const OpenAccountData& account) {
  if (HRESULT h = load(); FAILED(h)) return h;
  return currentIndex(account, *image) < 0 ? E_FAIL : S_OK;
}

HRESULT AccountStore::adminProof(OpenAccountData& a, const StoreImage& img) {
  if (a.adminKeyItem.empty()) return E_INVALIDARG;  // not an administrator
  auto opened = openSignedBlock(a.adminKeyItem, a.adminPublic);
  if (!opened) return E_ACCESSDENIED;
  auto priv = RsaPrivateKey::parse(opened->view());
  if (!priv || !(priv->publicKey() == a.adminPublic)) return E_ACCESSDENIED;
  auto keyElement = readElement(img.rightsKeyElement(), 0);
  if (!keyElement) return E_FAIL;
  CryptBuffer inner;
  if (crypto::RsaPrivateDecrypt(keyElement->value, inner, *priv) != S_OK) return E_ACCESSDENIED;
  auto key = readElement(inner.view(), 0);
  if (!key || key->tag != kTagPiece || key->size != inner.size() || key->value.size() != 16) return E_ACCESSDENIED;
  Bytes rightsKey(key->value.begin(), key->value.end());
  if (a.adminPrivate) {
    if (!(*a.adminPrivate == *priv) || a.rightsKey.bytes() != rightsKey) return E_ACCESSDENIED;
  } else {
    a.adminPrivate = *priv;
    a.rightsKey = CryptBuffer(std::move(rightsKey));
  }
  return S_OK;
}

HRESULT AccountStore::InitUserStore(std::string_view name, std::string_view password) {
  if (!validName(name) || !validPassword(password)) return E_INVALIDARG;
  if (auto made = plat::paths::ensureDir(dir_, 0755); !made) {
    if (log_) log_(made.message());
    return E_FAIL;
  }
  Session s(*this);
  if (HRESULT h = s.lock(); FAILED(h)) return h;  // another process is working on the store

  crypto::RandomPool& pool = *pool_;
  OpenAccountData a;
  a.name = std::string(name);
  a.rights = kInitialAdminRights;
  CryptBuffer rightsKey;
  a.namesKey.bytes().resize(16);
  rightsKey.bytes().resize(16);
  RsaPrivateKey adminPrivate;
  if (pool.generate(a.namesKey.data(), 16) || pool.generate(rightsKey.data(), 16) ||
      !makeKeyPair(pool, a.adminPublic, adminPrivate) || !makeKeyPair(pool, a.ownPublic, a.ownPrivate))
    return E_FAIL;
  CryptBuffer adminPrivateBytes(adminPrivate.serialize());
  a.adminKeyItem = signBlock(adminPrivateBytes.view(), adminPrivate);
  a.signedRights = signBlock(le32(a.rights), adminPrivate);
  CryptBuffer sealedKey;
  if (crypto::RsaPublicEncrypt(element(kTagPiece, rightsKey.view()), sealedKey, a.adminPublic, pool) != S_OK)
    return E_FAIL;
  Bytes item1 = encryptBlock(text(password), protectedGroup(a).view(), pool);
  Bytes names = namesElement({a.name}, a.namesKey.view(), pool);
  Bytes rights = rightsElement({a.rights}, rightsKey.view(), pool);
  if (a.adminKeyItem.empty() || a.signedRights.empty() || item1.empty() || names.empty() || rights.empty())
    return E_FAIL;
  Bytes record = makeRecord(item1, a.signedRights, a.adminKeyItem);

  s.image = StoreImage::fresh();
  HRESULT h = writeWithRoom(*s.image, [&](StoreImage& img) {
    if (!img.setRightsKeyElement(element(kTagPiece, sealedKey.view()))) return false;
    if (!img.appendAccount(name, record) || !img.setNamesList(names)) return false;
    img.setRightsTable(rights);
    return true;
  });
  if (FAILED(h)) return h;
  h = s.commit();
  if (SUCCEEDED(h)) open_.clear();  // handles of the old store mean nothing now
  return h;
}

HRESULT AccountStore::OpenAccount(std::string_view name, std::string_view password, AccountHandle& handle) {
  handle = 0;
  if (!validName(name) || !validPassword(password)) return E_INVALIDARG;
  Session s(*this);
  if (HRESULT h = s.load(); FAILED(h)) return h;
  int idx = s.image->find(name);
  if (idx < 0) return E_FAIL;
  ByteView rec = s.image->record(std::size_t(idx));
  auto items = splitRecord(rec);
  if (!items) return E_FAIL;
  auto data = std::make_unique<OpenAccountData>();
  if (HRESULT h = openProtectedItems(items->protectedItems, password, *data); FAILED(h)) return h;
  auto rights = openSignedBlock(items->signedRights, data->adminPublic);
  if (!rights || rights->size() != 4) return E_ACCESSDENIED;
  data->name = std::string(name);
  data->rights = getLe32(rights->data());
  data->signedRights.assign(items->signedRights.begin(), items->signedRights.end());
  data->adminKeyItem.assign(items->adminKey.begin(), items->adminKey.end());
  data->record.assign(rec.begin(), rec.end());

  for (auto& [h, a] : open_) {
    if (a->name != name) continue;
    if (a->record != data->record) {  // the store changed underneath: take the fresh items
      data->uses = a->uses;
      a = std::move(data);
    }
    ++a->uses;
    handle = h;
    return S_OK;
  }
  while (nextHandle_ == 0 || open_.count(nextHandle_)) ++nextHandle_;
  handle = nextHandle_++;
  data->uses = 1;
  open_.emplace(handle, std::move(data));
  return S_OK;
}

HRESULT AccountStore::CloseAccount(AccountHandle handle) {
  auto it = open_.find(handle);
  if (it == open_.end()) return E_FAIL;
  if (--it->second->uses == 0) open_.erase(it);
  return S_OK;
}

bool AccountStore::IsOpenHandle(AccountHandle handle) const { return find(handle) != nullptr; }

std::uint32_t AccountStore::GetHandleRights(AccountHandle handle) const {
  const OpenAccountData* a = find(handle);
  return a ? a->rights : 0;
}

bool AccountStore::IsSameAccount(AccountHandle handle, std::string_view name) const {
  const OpenAccountData* a = find(handle);
  return a && a->name == name;
}

HRESULT AccountStore::CreateAccount(AccountHandle creator, std::string_view name, std::string_view password,
                                    std::uint32_t rights) {
  OpenAccountData* a = find(creator);
  if (!a || !validName(name) || !validPassword(password)) return E_INVALIDARG;
  Session s(*this);
  if (HRESULT h = s.loadFor(*a); FAILED(h)) return h;
  StoreImage& img = *s.image;
  if (HRESULT h = adminProof(*a, img); FAILED(h)) return h;
  if (img.find(name) >= 0) return E_INVALIDARG;
  auto names = readNames(img, a->namesKey.view());
  auto table = readRights(img, a->rightsKey.view());
  if (!names || !table) return E_FAIL;
  rights |= kRightOwnAccount;
  names->emplace_back(name);
  table->push_back(rights);

  OpenAccountData n;
  n.namesKey = a->namesKey;
  n.adminPublic = a->adminPublic;
  if (!makeKeyPair(*pool_, n.ownPublic, n.ownPrivate)) return E_FAIL;
  Bytes item1 = encryptBlock(text(password), protectedGroup(n).view(), *pool_);
  Bytes item2 = signBlock(le32(rights), *a->adminPrivate);
  Bytes item4 = (rights & kRightAdminister) ? a->adminKeyItem : Bytes();
  Bytes namesEl = namesElement(*names, a->namesKey.view(), *pool_);
  Bytes rightsEl = rightsElement(*table, a->rightsKey.view(), *pool_);
  if (item1.empty() || item2.empty() || namesEl.empty() || rightsEl.empty()) return E_FAIL;
  Bytes record = makeRecord(item1, item2, item4);
  HRESULT h = writeWithRoom(img, [&](StoreImage& i) {
    if (!i.appendAccount(name, record) || !i.setNamesList(namesEl)) return false;
    i.setRightsTable(rightsEl);
    return true;
  });
  return FAILED(h) ? h : s.commit();
}

HRESULT AccountStore::DeleteAccount(AccountHandle requester, std::string_view name) {
  OpenAccountData* a = find(requester);
  if (!a) return E_INVALIDARG;
  Session s(*this);
  if (HRESULT h = s.loadFor(*a); FAILED(h)) return h;
  StoreImage& img = *s.image;
  if (HRESULT h = adminProof(*a, img); FAILED(h)) return h;
  int idx = img.find(name);
  if (idx < 0) return E_INVALIDARG;
  auto names = readNames(img, a->namesKey.view());
  auto table = readRights(img, a->rightsKey.view());
  if (!names || !table) return E_FAIL;
  names->erase(names->begin() + idx);
  table->erase(table->begin() + idx);
  Bytes namesEl = namesElement(*names, a->namesKey.view(), *pool_);
  Bytes rightsEl = rightsElement(*table, a->rightsKey.view(), *pool_);
  if (namesEl.empty() || rightsEl.empty()) return E_FAIL;
  HRESULT h = writeWithRoom(img, [&](StoreImage& i) {
    i.removeAccount(std::size_t(idx));
    if (!i.setNamesList(namesEl)) return false;
    i.setRightsTable(rightsEl);
    return true;
  });
  if (SUCCEEDED(h)) h = s.commit();
  if (SUCCEEDED(h)) {
    // The account is gone: its handles no longer open anything.
    for (auto it = open_.begin(); it != open_.end();) it = it->second->name == name ? open_.erase(it) : std::next(it);
  }
  return h;
}

HRESULT AccountStore::RenameAccount(AccountHandle requester, std::string_view name, std::string_view newName) {
  OpenAccountData* a = find(requester);
  if (!a || !validName(newName)) return E_INVALIDARG;
  Session s(*this);
  if (HRESULT h = s.loadFor(*a); FAILED(h)) return h;
  StoreImage& img = *s.image;
  int idx = img.find(name);
  if (idx < 0) return E_FAIL;
  if (img.find(newName) >= 0) return E_INVALIDARG;
  if (a->name != name)
    if (HRESULT h = adminProof(*a, img); FAILED(h)) return h;
  auto names = readNames(img, a->namesKey.view());
  if (!names) return E_FAIL;
  (*names)[std::size_t(idx)] = std::string(newName);
  Bytes namesEl = namesElement(*names, a->namesKey.view(), *pool_);
  if (namesEl.empty()) return E_FAIL;
  HRESULT h = writeWithRoom(img, [&](StoreImage& i) {
    i.setDigest(std::size_t(idx), newName);
    return i.setNamesList(namesEl);
  });
  if (SUCCEEDED(h)) h = s.commit();
  if (SUCCEEDED(h))
    if (OpenAccountData* t = findByName(name)) t->name = std::string(newName);
  return h;
}

HRESULT AccountStore::SetPassword(AccountHandle handle, std::string_view newPassword) {
  OpenAccountData* a = find(handle);
  if (!a || !validPassword(newPassword)) return E_INVALIDARG;
  Session s(*this);
  if (HRESULT h = s.load(); FAILED(h)) return h;
  StoreImage& img = *s.image;
  int idx = currentIndex(*a, img);
  if (idx < 0) return E_FAIL;
  auto items = splitRecord(a->record);
  if (!items) return E_FAIL;
  Bytes item1 = encryptBlock(text(newPassword), protectedGroup(*a).view(), *pool_);
  if (item1.empty()) return E_FAIL;
  Bytes record = makeRecord(item1, items->signedRights, items->adminKey);
  HRESULT h = writeWithRoom(img, [&](StoreImage& i) { return i.replaceRecord(std::size_t(idx), record); });
  if (SUCCEEDED(h)) h = s.commit();
  if (SUCCEEDED(h)) a->record = std::move(record);
  return h;
}

HRESULT AccountStore::ChangeRights(AccountHandle requester, std::string_view name, std::uint32_t rights) {
  OpenAccountData* a = find(requester);
  if (!a) return E_INVALIDARG;
  Session s(*this);
  if (HRESULT h = s.loadFor(*a); FAILED(h)) return h;
  StoreImage& img = *s.image;
  if (HRESULT h = adminProof(*a, img); FAILED(h)) return h;
  int idx = img.find(name);
  if (idx < 0) return E_FAIL;
  auto table = readRights(img, a->rightsKey.view());
  auto items = splitRecord(img.record(std::size_t(idx)));
  if (!table || !items) return E_FAIL;
  (*table)[std::size_t(idx)] = rights;
  Bytes item2 = signBlock(le32(rights), *a->adminPrivate);
  Bytes item4 = (rights & kRightAdminister) ? a->adminKeyItem : Bytes();
  Bytes rightsEl = rightsElement(*table, a->rightsKey.view(), *pool_);
  if (item2.empty() || rightsEl.empty()) return E_FAIL;
  Bytes record = makeRecord(items->protectedItems, item2, item4);
  HRESULT h = writeWithRoom(img, [&](StoreImage& i) {
    if (!i.replaceRecord(std::size_t(idx), record)) return false;
    i.setRightsTable(rightsEl);
    return true;
  });
  if (SUCCEEDED(h)) h = s.commit();
  if (SUCCEEDED(h)) {
    if (OpenAccountData* t = findByName(name)) {
      t->rights = rights;
      t->signedRights = item2;
      t->adminKeyItem = item4;
      t->record = record;
      if (item4.empty()) {
        t->adminPrivate.reset();
        t->rightsKey.clear();
      }
    }
  }
  return h;
}

HRESULT AccountStore::GetAccountRights(AccountHandle requester, std::string_view name, std::uint32_t& rights) {
  rights = 0;
  OpenAccountData* a = find(requester);
  if (!a) return E_INVALIDARG;
  if (a->name == name) {
    rights = a->rights;
    return S_OK;
  }
  Session s(*this);
  if (HRESULT h = s.load(); FAILED(h)) return h;
  if (currentIndex(*a, *s.image) < 0) return E_FAIL;
  if (FAILED(adminProof(*a, *s.image))) return E_INVALIDARG;
  int idx = s.image->find(name);
  if (idx < 0) return E_FAIL;
  auto table = readRights(*s.image, a->rightsKey.view());
  if (!table) return E_FAIL;
  rights = (*table)[std::size_t(idx)];
  return S_OK;
}

HRESULT AccountStore::ListAccounts(AccountHandle requester, std::vector<AccountEntry>& accounts) {
  accounts.clear();
  OpenAccountData* a = find(requester);
  if (!a) return E_INVALIDARG;
  Session s(*this);
  if (HRESULT h = s.load(); FAILED(h)) return h;
  if (currentIndex(*a, *s.image) < 0) return E_FAIL;
  auto names = readNames(*s.image, a->namesKey.view());
  if (!names) return E_FAIL;
  std::optional<std::vector<std::uint32_t>> table;
  if (!a->adminKeyItem.empty()) {
    if (HRESULT h = adminProof(*a, *s.image); FAILED(h)) return h;
    table = readRights(*s.image, a->rightsKey.view());
    if (!table) return E_FAIL;
  }
  for (std::size_t i = 0; i < names->size(); ++i) {
    std::uint32_t r = table ? (*table)[i] : ((*names)[i] == a->name ? a->rights : 0);
    accounts.push_back({(*names)[i], r});
  }
  return S_OK;
}

HRESULT AccountStore::CountAccounts(AccountHandle requester, std::uint32_t mask, std::uint32_t& count) {
  count = 0;
  std::vector<AccountEntry> list;
  if (HRESULT h = ListAccounts(requester, list); FAILED(h)) return h;
  for (const auto& e : list)
    if (mask == 0 || (e.rights & mask)) ++count;
  return S_OK;
}

}  // namespace kelm::accounts
