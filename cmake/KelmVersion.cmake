# Every program and shared library we build carries a version block in its ".kelm_version"
# section (platform/kernel/version_block.h). Its texts can be set per target, read when the
# build files are generated:
#   set_target_properties(brask PROPERTIES KELM_FILE_VERSION 2.1.0.3 KELM_FILE_DESCRIPTION "Brask")
# Defaults: the project's version and the target's name.

set(KELM_COMPANY_NAME "Velkari Technology, Inc.")
set(KELM_PRODUCT_NAME "Velkari Array Management")

function(kelm_embed_version target)
  get_target_property(kind ${target} TYPE)
  if(kind STREQUAL "EXECUTABLE")
    set(file_type kFileTypeApp)
  elseif(kind STREQUAL "SHARED_LIBRARY" OR kind STREQUAL "MODULE_LIBRARY")
    set(file_type kFileTypeDll)
  else()
    return()  # a static library's block would land in whatever links it
  endif()
  set(fv "$<TARGET_PROPERTY:${target},KELM_FILE_VERSION>")
  set(fd "$<TARGET_PROPERTY:${target},KELM_FILE_DESCRIPTION>")
  set(file_version "$<IF:$<BOOL:${fv}>,${fv},${PROJECT_VERSION}>")
  set(description "$<IF:$<BOOL:${fd}>,${fd},${target}>")
  set(out ${CMAKE_BINARY_DIR}/version/${target}_version.cpp)
  file(GENERATE OUTPUT ${out} CONTENT "// Generated: the version block of ${target}.
#include \"platform/kernel/version_block.h\"

namespace {
using namespace plat::kernel;
constexpr std::string_view kFileVersion = R\"kelmv(${file_version})kelmv\";
constexpr std::string_view kProductVersion = R\"kelmv(${PROJECT_VERSION})kelmv\";
constexpr VersionEntryView kStrings[] = {
    {\"CompanyName\", R\"kelmv(${KELM_COMPANY_NAME})kelmv\"},
    {\"FileDescription\", R\"kelmv(${description})kelmv\"},
    {\"FileVersion\", kFileVersion},
    {\"InternalName\", R\"kelmv(${target})kelmv\"},
    {\"OriginalFilename\", R\"kelmv($<TARGET_FILE_NAME:${target}>)kelmv\"},
    {\"ProductName\", R\"kelmv(${KELM_PRODUCT_NAME})kelmv\"},
    {\"ProductVersion\", kProductVersion},
};
constexpr Translation kTranslations[] = {{0x0409, 0x04b0}};
constexpr VersionTableView kTables[] = {{{0x0409, 0x04b0}, kStrings}};
constexpr auto kFile = parseVersionWords(kFileVersion).value_or(std::pair<std::uint32_t, std::uint32_t>{0, 0});
constexpr auto kProduct = parseVersionWords(kProductVersion).value_or(std::pair<std::uint32_t, std::uint32_t>{0, 0});
constexpr VersionBlockView kBlock{
    FixedFileInfo{.fileVersionMS = kFile.first, .fileVersionLS = kFile.second,
                  .productVersionMS = kProduct.first, .productVersionLS = kProduct.second,
                  .fileType = ${file_type}},
    kTranslations, kTables};
[[gnu::used, gnu::section(\".kelm_version\")]] constexpr auto kEmbedded =
    versionBlockArray<encodedVersionSize(kBlock)>(kBlock);
}  // namespace
")
  target_sources(${target} PRIVATE ${out})
endfunction()
