// Logon checks per second: the token is decoded and the account opened and closed again, as the
// agent does for each logon; and the administrator proof that guards every account change.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <filesystem>
#include <string>

#include "agent/accounts/account_store.h"
#include "agent/crypto/logon_token.h"
#include "agent/crypto/rsa.h"

namespace {

using namespace kelm;

struct BenchStore {
  BenchStore() {
    std::string tmpl = (std::filesystem::temp_directory_path() / "kelm-bench-XXXXXX").string();
    if (!mkdtemp(tmpl.data())) std::abort();
    dir = tmpl;
    store = std::make_unique<accounts::AccountStore>(dir);
    if (store->InitUserStore("admin", "root pw") != plat::S_OK) std::abort();
    if (store->OpenAccount("admin", "root pw", admin) != plat::S_OK) std::abort();
    if (store->CreateAccount(admin, "operator", "op pw", 0x40) != plat::S_OK) std::abort();
  }
  ~BenchStore() {
    store.reset();
    std::filesystem::remove_all(dir);
  }
  std::filesystem::path dir;
  std::unique_ptr<accounts::AccountStore> store;
  accounts::AccountHandle admin = 0;
};

void BM_LogonCheck(benchmark::State& state) {
  BenchStore b;
  const std::string token =
      crypto::BuildLogonToken(state.range(0) ? "admin" : "operator", state.range(0) ? "root pw" : "op pw");
  for (auto _ : state) {
    std::string name, password;
    if (!crypto::DecodeLogonToken(token, name, password)) state.SkipWithError("token");
    accounts::AccountHandle h = 0;
    if (b.store->OpenAccount(name, password, h) != plat::S_OK) state.SkipWithError("open");
    b.store->CloseAccount(h);
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_LogonCheck)->Arg(0)->Arg(1)->ArgName("administrator");

void BM_AdministratorProof(benchmark::State& state) {
  BenchStore b;
  for (auto _ : state) {
    std::uint32_t rights = 0;
    if (b.store->GetAccountRights(b.admin, "operator", rights) != plat::S_OK) state.SkipWithError("rights");
    benchmark::DoNotOptimize(rights);
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_AdministratorProof);

void BM_DecodeLogonToken(benchmark::State& state) {
  const std::string token = crypto::BuildLogonToken("admin", "root pw");
  for (auto _ : state) {
    std::string name, password;
    benchmark::DoNotOptimize(crypto::DecodeLogonToken(token, name, password));
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_DecodeLogonToken);

void BM_RsaPrivateBlock512(benchmark::State& state) {
  crypto::RsaPublicKey pub;
  crypto::RsaPrivateKey priv;
  crypto::rsaGenerateKeys({512, 1}, crypto::processRandomPool(), pub, priv);
  crypto::Bytes msg(53, 7), out;
  for (auto _ : state) benchmark::DoNotOptimize(crypto::rsaPrivateEncryptBlock(msg, priv, out));
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_RsaPrivateBlock512);

void BM_RsaKeyGeneration512(benchmark::State& state) {
  crypto::RsaPublicKey pub;
  crypto::RsaPrivateKey priv;
  for (auto _ : state)
    benchmark::DoNotOptimize(crypto::rsaGenerateKeys({512, 1}, crypto::processRandomPool(), pub, priv));
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_RsaKeyGeneration512)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
