#include "dialogs/preferences_dialog.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFile>
#include <QFileDialog>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QSpinBox>
#include <QStyle>
#include <QVBoxLayout>
#include <algorithm>
#include <cstdlib>

#include "core/link_rules.h"
#include "core/run_controller.h"
#include "core/run_options.h"
#include "core/status_code_table.h"
#include "core/window_rules.h"
#include "dialogs/help.h"
#include "dialogs/message_boxes.h"
#include "platform/product.h"
#include "platform/qt_text.h"

namespace quimbel {

CategoryListBox::CategoryListBox(QWidget* parent) : QListWidget(parent) {
  setSelectionMode(QAbstractItemView::NoSelection);
  setSortingEnabled(false);
  for (const StatusCategory& category : StatusCodeTable::Categories()) {
    auto* item = new QListWidgetItem(
        QString::fromUtf8(category.reason.data(), static_cast<int>(category.reason.size())), this);
    item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsUserCheckable);
    item->setSizeHint(QSize(0, 20));
  }
}

void CategoryListBox::ShowFilter(const ReportFilter& filter) {
  // Any character but "0" is reported, so it shows as checked.
  for (int i = 0; i < count(); ++i) {
    const bool reported = static_cast<std::size_t>(i) < filter.text().size() &&
                          filter.text()[static_cast<std::size_t>(i)] != '0';
    item(i)->setCheckState(reported ? Qt::Checked : Qt::Unchecked);
  }
}

ReportFilter CategoryListBox::Filter() const {
  std::string text;
  for (int i = 0; i < count(); ++i)
    text += item(i)->checkState() == Qt::Checked ? '1' : '0';
  return ReportFilter(text);
}

namespace {

// A group box with a line of explanation and its preset button, in the
// right-hand column of the dialog at `row`.
QPushButton* AddPresetBox(QGridLayout* layout, int row, const QString& title,
                          const QString& explanation, const QString& button_text) {
  QWidget* dialog = layout->parentWidget();
  auto* box = new QGroupBox(title, dialog);
  auto* column = new QVBoxLayout(box);
  column->addWidget(new QLabel(explanation, box));
  auto* button = new QPushButton(button_text, box);
  column->addWidget(button);
  layout->addWidget(box, row, 1);
  return button;
}

}  // namespace

PreferencesDialog::PreferencesDialog(QWidget* parent, ReportFilter& filter, int timeout,
                                     bool visible, const ProbePreferences& probe)
    : QDialog(parent), filter_(filter), timeout_(timeout), visible_(visible) {
  setWindowTitle("Preferences");
  // The body scrolls on a small screen; the buttons stay in view below it.
  body_ = new QWidget(this);
  auto* layout = new QGridLayout(body_);
  layout->addWidget(new QLabel("Report Results for Checked Items - or use the Defaults", this), 0,
                    0);
  list_ = new CategoryListBox(this);
  list_->setMinimumSize(330, 300);
  layout->addWidget(list_, 1, 0, 4, 1);

  QPushButton* hawk =
      AddPresetBox(layout, 1, "Defaults for Type A Users",
                   "Report every defect to me (code 200 is not a defect)", "Watch Like a Hawk");
  QPushButton* one_eye =
      AddPresetBox(layout, 2, "Defaults for Type B Users",
                   "Report only the very worst offenders to me", "Watch With One Eye Shut");

  auto* timeout_row = new QHBoxLayout;
  timeout_field_ = new QLineEdit(QString::number(timeout_), this);
  timeout_field_->setMaximumWidth(70);
  auto* timeout_label = new QLabel(
      "How Long to Wait for Slow Hosts? (seconds) (Also limits the name lookup and the "
      "connection attempt.)",
      this);
  timeout_label->setWordWrap(true);
  timeout_row->addWidget(timeout_field_);
  timeout_row->addWidget(timeout_label, 1);
  layout->addLayout(timeout_row, 3, 1);
  visible_box_ = new QCheckBox("Ensure new list entires are visible.", this);
  visible_box_->setChecked(visible_);
  layout->addWidget(visible_box_, 4, 1);

  AddProbeRows(layout, probe);
  AddRulesBox(layout, probe);
  AddEditorRow(layout, probe);
  AddCertificateRows(layout, probe);
  auto* buttons = new QDialogButtonBox(
      QDialogButtonBox::Ok | QDialogButtonBox::Cancel | QDialogButtonBox::Help, this);
  auto* scroll = new QScrollArea(this);
  scroll->setWidget(body_);
  scroll->setWidgetResizable(true);
  scroll->setFrameShape(QFrame::NoFrame);
  scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  // Room for the scroll bar beside the body, so no line of it is cut.
  scroll->setMinimumWidth(body_->minimumSizeHint().width() +
                          style()->pixelMetric(QStyle::PM_ScrollBarExtent) + 4);
  auto* outer = new QVBoxLayout(this);
  outer->addWidget(scroll, 1);
  outer->addWidget(buttons);
  connect(buttons, &QDialogButtonBox::accepted, this, &PreferencesDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  connect(buttons, &QDialogButtonBox::helpRequested, this, [] { OpenHelp(kHelpPreferences); });
  connect(hawk, &QPushButton::clicked, this, &PreferencesDialog::PressTypeA);
  connect(one_eye, &QPushButton::clicked, this, &PreferencesDialog::PressTypeB);
  list_->ShowFilter(filter_);
}

void PreferencesDialog::AddProbeRows(QGridLayout* layout, const ProbePreferences& probe) {
  auto* agent_row = new QHBoxLayout;
  agent_row->addWidget(new QLabel("User agent:", this));
  user_agent_field_ = new QLineEdit(QString::fromStdString(probe.user_agent), this);
  // Empty shows (and sends) Quimbel's own name.
  user_agent_field_->setPlaceholderText(QString::fromStdString(UserAgent()));
  agent_row->addWidget(user_agent_field_, 1);
  layout->addLayout(agent_row, 5, 0, 1, 2);
  auto* counts_row = new QHBoxLayout;
  // A number the command line sets too: its label, tooltip and range are
  // the option's.
  const auto add_count = [&](QHBoxLayout* row, std::string_view option_name, int value) {
    const OptionSpec& option = *FindOption(option_name);
    auto* field = new QSpinBox(this);
    field->setRange(option.low, option.high);
    field->setValue(value);
    field->setToolTip(ToQString(option.tip));
    auto* caption = new QLabel(ToQString(option.label), this);
    caption->setBuddy(field);
    row->addWidget(caption);
    row->addWidget(field);
    return field;
  };
  parallel_field_ = add_count(counts_row, "parallel", probe.parallel);
  per_host_field_ = add_count(counts_row, "per-host", probe.per_host);
  redirects_field_ = add_count(counts_row, "max-redirects", probe.max_redirects);
  counts_row->addStretch(1);
  // Politeness towards the hosts checked.
  auto* polite_row = new QHBoxLayout;
  rate_field_ = add_count(polite_row, "rate", probe.rate);
  rate_field_->setSpecialValueText("no limit");
  streams_field_ = add_count(polite_row, "streams", probe.streams);
  cache_box_ = new QCheckBox("&Keep other sites' outcomes for a day (link cache)", this);
  cache_box_->setChecked(probe.cache);
  cache_box_->setToolTip("Links to other sites checked in the last day are not asked again");
  polite_row->addSpacing(12);
  polite_row->addWidget(cache_box_);
  polite_row->addStretch(1);
  robots_box_ =
      new QCheckBox("Request what a crawled site's robots.txt for&bids (your own site only)", this);
  robots_box_->setChecked(probe.ignore_robots);
  robots_box_->setToolTip(
      "A crawl otherwise neither follows nor checks links into paths the site's robots.txt "
      "disallows");
  fragments_box_ = new QCheckBox("&Look for the place an anchor names on other sites' pages", this);
  fragments_box_->setChecked(probe.check_fragments);
  fragments_box_->setToolTip(
      "A link such as https://example.org/page#part is checked against the ids of that page; "
      "ids a page makes in script are not seen");
  history_box_ = new QCheckBox("Keep a history of runs, to mark the &new rows of each test", this);
  history_box_->setChecked(probe.history);
  history_box_->setToolTip(
      "The rows of the last 30 tests of each folder, file or site are kept in your cache "
      "folder; rows no earlier whole test of it listed are shown in bold");
  auto* counts = new QVBoxLayout;
  counts->addLayout(counts_row);
  counts->addLayout(polite_row);
  counts->addWidget(robots_box_);
  counts->addWidget(fragments_box_);
  counts->addWidget(history_box_);
  layout->addLayout(counts, 6, 0, 1, 2);
}

void PreferencesDialog::AddRulesBox(QGridLayout* layout, const ProbePreferences& probe) {
  auto* rules = new QGroupBox("Link Rules", this);
  auto* rules_grid = new QGridLayout(rules);
  const auto add_patterns = [&](int row, const char* label, const std::string& text,
                                const char* tip) {
    auto* field = new QPlainTextEdit(QString::fromStdString(text), rules);
    field->setTabChangesFocus(true);
    field->setLineWrapMode(QPlainTextEdit::NoWrap);
    field->setFixedHeight(field->fontMetrics().lineSpacing() * 3 + 10);
    field->setToolTip(tip);
    auto* caption = new QLabel(label, rules);
    caption->setBuddy(field);
    rules_grid->addWidget(caption, row, 0, Qt::AlignTop);
    rules_grid->addWidget(field, row, 1);
    return field;
  };
  exclude_field_ = add_patterns(0, "E&xclude links:", probe.exclude,
                                "Links matching any of these regular expressions (one a line) "
                                "are not checked");
  include_field_ = add_patterns(1, "But &include:", probe.include,
                                "Excluded links matching one of these are checked after all");
  accept_field_ = new QLineEdit(QString::fromStdString(probe.accept), rules);
  accept_field_->setPlaceholderText("200,204,429,500-599");
  accept_field_->setToolTip("Further codes that count as good: their rows are not reported");
  auto* accept_label = new QLabel("&Accept codes:", rules);
  accept_label->setBuddy(accept_field_);
  rules_grid->addWidget(accept_label, 2, 0);
  rules_grid->addWidget(accept_field_, 2, 1);
  layout->addWidget(rules, 7, 0, 1, 2);
}

void PreferencesDialog::AddEditorRow(QGridLayout* layout, const ProbePreferences& probe) {
  auto* editor_row = new QHBoxLayout;
  editor_field_ = new QLineEdit(QString::fromStdString(probe.editor), this);
  // Empty: what the environment names, shown as the placeholder.
  const std::vector<std::string> fallback =
      EditorCommand("", "%f", 0, std::getenv("VISUAL"), std::getenv("EDITOR"));
  QStringList shown;
  for (const std::string& word : fallback)
    shown << QString::fromStdString(word);
  editor_field_->setPlaceholderText(shown.join(' ').replace("+1", "+%l"));
  editor_field_->setToolTip("The command that opens a page: %f is the page, %l the line");
  auto* editor_label = new QLabel("&Editor command:", this);
  editor_label->setBuddy(editor_field_);
  editor_row->addWidget(editor_label);
  editor_row->addWidget(editor_field_, 1);
  layout->addLayout(editor_row, 8, 0, 1, 2);
}

void PreferencesDialog::AddCertificateRows(QGridLayout* layout, const ProbePreferences& probe) {
  auto* box = new QGroupBox("Secure Connections (https)", this);
  auto* grid = new QGridLayout(box);
  ca_file_field_ = new QLineEdit(QFile::decodeName(probe.ca_file.c_str()), box);
  ca_file_field_->setPlaceholderText("only the system's certificate authorities");
  ca_file_field_->setToolTip(
      "A certificate authority (PEM) trusted beside the system's, such as a company's own");
  auto* ca_label = new QLabel("&Trusted certificate file:", box);
  ca_label->setBuddy(ca_file_field_);
  auto* browse = new QPushButton("Br&owse...", box);
  pick_ca_file = [](QWidget* owner) {
    return QFileDialog::getOpenFileName(owner, "Trusted Certificate File", QString(),
                                        "Certificates (*.pem *.crt *.cer);;All files (*)");
  };
  connect(browse, &QPushButton::clicked, this, [this] {
    const QString chosen = pick_ca_file(this);
    if (!chosen.isEmpty()) ca_file_field_->setText(chosen);
  });
  insecure_box_ = new QCheckBox(
      "Do &not check certificates (unsafe: anyone between you and a site can pose as it)", box);
  insecure_box_->setChecked(probe.insecure);
  insecure_box_->setToolTip("Only for a test server whose certificate nothing can vouch for");
  // Plainly a warning, in any theme.
  QPalette warning = insecure_box_->palette();
  warning.setColor(QPalette::WindowText, QColor(200, 40, 40));
  warning.setColor(QPalette::ButtonText, QColor(200, 40, 40));
  insecure_box_->setPalette(warning);
  grid->addWidget(ca_label, 0, 0);
  grid->addWidget(ca_file_field_, 0, 1);
  grid->addWidget(browse, 0, 2);
  grid->addWidget(insecure_box_, 1, 0, 1, 3);
  layout->addWidget(box, 9, 0, 1, 2);
}

void PreferencesDialog::ApplyPreset(std::string_view preset) {
  filter_ = ReportFilter(std::string(preset));
  list_->ShowFilter(filter_);
}

void PreferencesDialog::PressTypeA() {
  ApplyPreset(kDefaultFilter);
}

void PreferencesDialog::PressTypeB() {
  ApplyPreset(kTypeBFilter);
}

void PreferencesDialog::accept() {
  filter_ = list_->Filter();
  bool number = false;
  const int seconds = timeout_field_->text().trimmed().toInt(&number);
  if (!number || seconds < kMinTimeout || seconds > kMaxTimeout) {
    MessageBoxes::Show(this, "Please enter an integer between 5 and 1000.",
                       MessageIcon::kExclamation);
    timeout_field_->setFocus();
    timeout_field_->selectAll();
    return;
  }
  const std::string agent = user_agent();
  if (!agent.empty() && !IsUsableUserAgent(agent)) {
    MessageBoxes::Show(this, "The user agent cannot hold control characters.",
                       MessageIcon::kExclamation);
    user_agent_field_->setFocus();
    return;
  }
  if (const Result<LinkRules> rules =
          LinkRules::Make(PatternLines(exclude()), PatternLines(include()));
      !rules) {
    MessageBoxes::Show(this, rules.message(), MessageIcon::kExclamation);
    exclude_field_->setFocus();
    return;
  }
  if (!accepted_codes().empty()) {
    if (const Result<std::vector<CodeRange>> codes = ParseCodeList(accepted_codes()); !codes) {
      MessageBoxes::Show(this, codes.message(), MessageIcon::kExclamation);
      accept_field_->setFocus();
      return;
    }
  }
  if (!ca_file().empty()) {
    if (const Status readable = CheckCaFile(ca_file()); !readable) {
      MessageBoxes::Show(this, readable.message(), MessageIcon::kExclamation);
      ca_file_field_->setFocus();
      return;
    }
  }
  timeout_ = seconds;
  visible_ = visible_box_->isChecked();
  QDialog::accept();
}

std::string PreferencesDialog::editor_command() const {
  return editor_field_->text().trimmed().toStdString();
}

std::string PreferencesDialog::exclude() const {
  return exclude_field_->toPlainText().toStdString();
}

std::string PreferencesDialog::include() const {
  return include_field_->toPlainText().toStdString();
}

std::string PreferencesDialog::accepted_codes() const {
  return accept_field_->text().trimmed().toStdString();
}

int PreferencesDialog::parallel() const {
  return parallel_field_->value();
}

int PreferencesDialog::per_host() const {
  return per_host_field_->value();
}

int PreferencesDialog::max_redirects() const {
  return redirects_field_->value();
}

int PreferencesDialog::rate() const {
  return rate_field_->value();
}

int PreferencesDialog::streams() const {
  return streams_field_->value();
}

bool PreferencesDialog::cache() const {
  return cache_box_->isChecked();
}

bool PreferencesDialog::history() const {
  return history_box_->isChecked();
}

bool PreferencesDialog::ignore_robots() const {
  return robots_box_->isChecked();
}

bool PreferencesDialog::check_fragments() const {
  return fragments_box_->isChecked();
}

std::string PreferencesDialog::ca_file() const {
  return QFile::encodeName(ca_file_field_->text().trimmed()).toStdString();
}

bool PreferencesDialog::insecure() const {
  return insecure_box_->isChecked();
}

std::string PreferencesDialog::user_agent() const {
  return user_agent_field_->text().trimmed().toStdString();
}

void PreferencesDialog::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  // As big as the whole body where the screen has room, so nothing
  // scrolls there; never bigger than the screen, where the body scrolls.
  QSize want = sizeHint();
  want.setHeight(want.height() + std::max(0, body_->sizeHint().height() - body_->height()));
  if (const QScreen* shown_on = screen()) {
    want = want.boundedTo(shown_on->availableGeometry().size() - (frameSize() - size()));
  }
  resize(want);
}

}  // namespace quimbel
