#pragma once
// Result codes of the object model: the values our interfaces return.
#include <cstdint>
#include <string>

namespace plat {

using HRESULT = std::int32_t;

constexpr HRESULT hr(std::uint32_t v) { return static_cast<HRESULT>(v); }

constexpr HRESULT S_OK = 0;
constexpr HRESULT S_FALSE = 1;
constexpr HRESULT E_NOTIMPL = hr(0x80004001);
constexpr HRESULT E_NOINTERFACE = hr(0x80004002);
constexpr HRESULT E_POINTER = hr(0x80004003);
constexpr HRESULT E_FAIL = hr(0x80004005);
constexpr HRESULT E_ACCESSDENIED = hr(0x80070005);
constexpr HRESULT E_OUTOFMEMORY = hr(0x8007000E);
constexpr HRESULT E_INVALIDARG = hr(0x80070057);
constexpr HRESULT CLASS_E_NOAGGREGATION = hr(0x80040110);
constexpr HRESULT CLASS_E_CLASSNOTAVAILABLE = hr(0x80040111);
constexpr HRESULT REGDB_E_CLASSNOTREG = hr(0x80040154);
constexpr HRESULT CO_E_SERVER_EXEC_FAILURE = hr(0x80080005);
constexpr HRESULT TYPE_E_CANTLOADLIBRARY = hr(0x80029C4A);
constexpr HRESULT CONNECT_E_NOCONNECTION = hr(0x80040200);
constexpr HRESULT CONNECT_E_CANNOTCONNECT = hr(0x80040202);
// Program codes of the components: a connection that is already open, a request that failed.
constexpr HRESULT KELM_E_ALREADY_OPEN = hr(0x800000AA);
constexpr HRESULT KELM_E_REQUEST_FAILED = hr(0x800000A2);

constexpr bool SUCCEEDED(HRESULT h) { return h >= 0; }
constexpr bool FAILED(HRESULT h) { return h < 0; }

// "0x80004005" style text, for logs and error messages.
std::string hresultText(HRESULT h);

}  // namespace plat
