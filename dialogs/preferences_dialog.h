// PreferencesDialog: which categories are reported, the time limit for slow
// hosts, whether new rows are scrolled into view, and how probes go out
// (user agent, links in flight, per host).
//
// The dialog edits the results view's filter in place (a preset, or the
// rebuild of an OK, stays in force even when the dialog is then
// cancelled); the time limit and the visibility flag are its own copies,
// handed back only on OK. User-interface thread only.
#pragma once

#include <QDialog>
#include <QListWidget>
#include <functional>

#include "core/report_filter.h"
#include "core/settings_keys.h"

class QCheckBox;
class QLineEdit;
class QPlainTextEdit;
class QSpinBox;

class QGridLayout;

namespace quimbel {

// The check list of the report categories, in table order.
class CategoryListBox : public QListWidget {
 public:
  explicit CategoryListBox(QWidget* parent);
  void ShowFilter(const ReportFilter& filter);
  ReportFilter Filter() const;  // "1" for a checked row, "0" otherwise
};

// How the probes go out, as the dialog shows and returns it.
struct ProbePreferences {
  std::string user_agent;  // empty: Quimbel's own
  int parallel = settings::kParallelProbes.default_value;
  int per_host = settings::kPerHost.default_value;
  int max_redirects = settings::kMaxRedirects.default_value;
  int streams = settings::kStreams.default_value;  // on one HTTP/2 connection
  // Link rules: patterns one a line, and the accepted codes.
  std::string exclude;
  std::string include;
  std::string accept;
  // "Open Page at Line": empty for the environment's editor.
  std::string editor;
  int rate = 0;                // requests a second to one host; 0: no limit
  bool cache = false;          // other sites' outcomes kept for a day
  bool history = true;         // each test's rows recorded, to mark the new ones
  bool ignore_robots = false;  // a crawl requests what robots.txt disallows too
  // https: a certificate authority trusted beside the system's (PEM), and
  // certificates left unchecked.
  std::string ca_file;
  bool insecure = false;
  bool check_fragments = false;  // an anchor on another site's page is looked for there
};

class PreferencesDialog : public QDialog {
 public:
  static constexpr int kMinTimeout = 5;
  static constexpr int kMaxTimeout = 1000;

  PreferencesDialog(QWidget* parent, ReportFilter& filter, int timeout, bool visible,
                    const ProbePreferences& probe = {});

  int timeout() const { return timeout_; }
  bool visible() const { return visible_; }
  // Empty: Quimbel's own.
  std::string user_agent() const;
  // "Parallel probes" and "Per host", 1 to 256 each.
  int parallel() const;
  int per_host() const;
  // Moves followed, 0 to 50.
  int max_redirects() const;
  std::string exclude() const;
  std::string include() const;
  std::string accepted_codes() const;
  std::string editor_command() const;
  int rate() const;
  int streams() const;
  bool cache() const;
  bool history() const;
  bool ignore_robots() const;
  bool check_fragments() const;
  std::string ca_file() const;
  bool insecure() const;

  // For tests.
  CategoryListBox* categories() const { return list_; }
  QLineEdit* timeout_field() const { return timeout_field_; }
  QLineEdit* user_agent_field() const { return user_agent_field_; }
  QSpinBox* parallel_field() const { return parallel_field_; }
  QSpinBox* per_host_field() const { return per_host_field_; }
  QSpinBox* redirects_field() const { return redirects_field_; }
  QSpinBox* rate_field() const { return rate_field_; }
  QSpinBox* streams_field() const { return streams_field_; }
  QCheckBox* cache_box() const { return cache_box_; }
  QCheckBox* history_box() const { return history_box_; }
  QCheckBox* robots_box() const { return robots_box_; }
  QCheckBox* fragments_box() const { return fragments_box_; }
  QPlainTextEdit* exclude_field() const { return exclude_field_; }
  QPlainTextEdit* include_field() const { return include_field_; }
  QLineEdit* accept_field() const { return accept_field_; }
  QLineEdit* editor_field() const { return editor_field_; }
  QLineEdit* ca_file_field() const { return ca_file_field_; }
  QCheckBox* insecure_box() const { return insecure_box_; }
  // The file picker of the CA file's Browse; replaceable for tests.
  std::function<QString(QWidget*)> pick_ca_file;
  void PressTypeA();
  void PressTypeB();

  // OK: rebuilds the filter, then checks the time limit; stays open with
  // a message when it is not a number from 5 to 1000.
  void accept() override;

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  // The User-Agent and the probe counts; the link rules; the editor.
  void AddProbeRows(QGridLayout* layout, const ProbePreferences& probe);
  void AddRulesBox(QGridLayout* layout, const ProbePreferences& probe);
  void AddEditorRow(QGridLayout* layout, const ProbePreferences& probe);
  // The trusted CA file with its Browse button, and the unsafe switch.
  void AddCertificateRows(QGridLayout* layout, const ProbePreferences& probe);
  void ApplyPreset(std::string_view preset);

  ReportFilter& filter_;
  int timeout_;
  bool visible_;
  CategoryListBox* list_;
  QLineEdit* timeout_field_;
  QLineEdit* user_agent_field_;
  QSpinBox* parallel_field_;
  QSpinBox* per_host_field_;
  QSpinBox* redirects_field_;
  QSpinBox* rate_field_;
  QSpinBox* streams_field_;
  QCheckBox* cache_box_;
  QCheckBox* history_box_;
  QCheckBox* robots_box_;
  QCheckBox* fragments_box_;
  QWidget* body_;  // what scrolls on a small screen
  QPlainTextEdit* exclude_field_;
  QPlainTextEdit* include_field_;
  QLineEdit* accept_field_;
  QLineEdit* editor_field_;
  QLineEdit* ca_file_field_;
  QCheckBox* insecure_box_;
  QCheckBox* visible_box_;
};

}  // namespace quimbel
