#pragma once
// Turns one 44-byte driver event record into an event record's code, severity, title and text.
#include <cstdint>
#include <optional>
#include <string>

#include "components/ide/marovelt_driver.h"

namespace tirrow {

// The languages the component's string table carries.
enum class Language { kEnglish = 1033, kJapanese = 1041 };
// The language of the process's locale (LC_ALL, LC_MESSAGES, LANG): Japanese for "ja...".
Language ProcessLanguage();
// A text of the string table; empty for an unknown id.
std::string LoadString(int id, Language language);

struct DecodedEvent {
  int eventCode = 0;
  int severity = 2;
  std::string title;
  std::string text;
};

// Nothing for the codes that carry no event. Decoding some codes first re-reads the driver's
// tables, so that the text names the new state.
std::optional<DecodedEvent> DecodeDriverEvent(const EventRecordBytes& record, CMaroveltDriver& driver,
                                              Language language);

}  // namespace tirrow
