#pragma once
// The mail settings (server, sender, recipients, enable switch) in the profile section "E-Mail log",
// and CMailSender, one object per use of them. The settings are loaded when the first sender of the
// process appears and written back when the last one goes, so a request that changes them loads them
// at its start and stores them at its end.
//
// No setting may hold CR, LF or NUL: such a text would end an SMTP command or header line early.
// The setters refuse them and loading drops them.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "agent/events/smtp_client.h"
#include "platform/registry/profile.h"

namespace kelm::events {

inline constexpr std::string_view kMailSection = "E-Mail log";

struct MailSettings {
  std::string smtpServer;
  std::string emailId;
  std::vector<std::string> receiptors;
  int enableEmail = 0;
};

// The one set of mail settings of a process, with its loaded flag and user count.
class MailSettingsStore {
 public:
  explicit MailSettingsStore(const plat::reg::Profile& profile) : profile_(profile) {}

  void LoadMailSettings();
  // Replaces the saved section as a whole; on failure the settings saved before stay.
  plat::Result<void> SaveMailSettings();

  MailSettings& settings() { return settings_; }
  bool loaded() const { return loaded_; }

 private:
  friend class CMailSender;
  const plat::reg::Profile& profile_;
  MailSettings settings_;
  bool loaded_ = false;
  int users_ = 0;
};

class CMailSender {
 public:
  // client may be null when this use sends nothing (a settings request).
  CMailSender(MailSettingsStore& store, SmtpClient* client);
  ~CMailSender();
  CMailSender(const CMailSender&) = delete;
  CMailSender& operator=(const CMailSender&) = delete;

  void setFamilyWord(std::string_view word) { family_ = std::string(word); }

  int AddReceiptor(std::string_view text);  // 1 added, 0 already listed or not a clean text
  int DelReceiptor(std::string_view text);  // 1 removed, 0 not listed
  int GetReceiptorList(std::string& out) const;
  int SetSmtpServer(std::string_view text);   // 1 stored, 0 not a clean text
  int GetSmtpServer(std::string& out) const;  // non-zero when there is a server
  int SetEmailId(std::string_view text);      // 1 stored, 0 not a clean text
  int GetEmailId(std::string& out) const;
  bool emailEnabled() const { return store_.settings_.enableEmail != 0; }
  void setEmailEnabled(bool on) { store_.settings_.enableEmail = on ? 1 : 0; }
  // Stores the settings now when this is their last use (a settings request's), so that its
  // answer can tell whether they were stored; otherwise the last use stores them as it goes.
  plat::Result<void> Save();

  // Queues the mail to every recipient; done runs on the agent's loop with the outcome (at once
  // when there is nothing to send). Without a client it fails at once.
  void SendMail(std::string_view subject, std::string_view body, SmtpClient::Done done);

  // Normalises "name <address>" to "\"name\" <address>"; 0 when the text is not an address (it is
  // then only trimmed). A text with CR, LF or NUL is never an address.
  static int ParseMailAddress(std::string& text);

 private:
  MailSettingsStore& store_;
  SmtpClient* client_;
  std::string family_ = "unknown";
};

}  // namespace kelm::events
