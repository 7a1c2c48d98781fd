// The main window's menus, toolbar and shortcuts, and what each command
// is wired to.
#include <QAction>
#include <QActionGroup>
#include <QLineEdit>
#include <QMenuBar>
#include <QShortcut>
#include <QStatusBar>
#include <QToolBar>
#include <tuple>

#include "app/icons.h"
#include "app/log_view.h"
#include "app/main_window.h"
#include "app/results_view.h"
#include "app/summary_dock.h"
#include "app/theme.h"
#include "dialogs/about_dialog.h"
#include "dialogs/help.h"

namespace quimbel {

QAction* MainWindow::AddAction(QMenu* menu, Command command, const QString& text,
                               const QString& prompt, const QString& tip,
                               const QKeySequence& shortcut) {
  // F1 is Help's key without standing in its menu text.
  const bool shown = !shortcut.isEmpty() && command != Command::kHelpTopics;
  auto* action = new QAction(shown ? text + "\t" + shortcut.toString() : text, this);
  action->setStatusTip(prompt);
  action->setToolTip(tip);
  if (!shortcut.isEmpty()) action->setShortcut(shortcut);
  menu->addAction(action);
  actions_[command] = action;
  return action;
}

void MainWindow::BuildMenus() {
  QMenu* file = menuBar()->addMenu("&File");
  AddAction(file, Command::kSelectFiles, "&Select File(s)...", "Select file(s) to test",
            "Test File(s)", QKeySequence("Ctrl+O"));
  AddAction(file, Command::kExport, "&Export Results...",
            "Export Test Results after choosing format", "Export", QKeySequence("Ctrl+S"));
  AddAction(file, Command::kRepair, "Repair Failed &Links...", "Repair bad links in source file",
            "Repair", QKeySequence("F5"));
  file->addSeparator();
  AddAction(file, Command::kPrint, "&Print...", "Print the active document", "Print",
            QKeySequence("Ctrl+P"));
  AddAction(file, Command::kPrintPreview, "Print Pre&view", "Display full pages", "Print Preview");
  AddAction(file, Command::kPrintSetup, "P&rint Setup...",
            "Change the printer and printing options", "Print Setup");
  file->addSeparator();
  // Ctrl+Q where the platform names no key of its own for quitting.
  QKeySequence quit(QKeySequence::Quit);
  if (quit.isEmpty()) quit = QKeySequence("Ctrl+Q");
  AddAction(file, Command::kExit, "E&xit", "Quit the application; prompts to save documents",
            "Exit", quit);

  recent_menu_ = file->addMenu("Re&cent");
  connect(recent_menu_, &QMenu::aboutToShow, this, &MainWindow::FillRecentMenu);
  FillRecentMenu();
  file->insertMenu(actions_[Command::kExport], recent_menu_);

  QMenu* view_menu = menuBar()->addMenu("&View");
  AddAction(view_menu, Command::kFileOrder, "&File Order",
            "Show the rows in the order of the files", "File Order");
  AddAction(view_menu, Command::kFind, "&Filter Rows", "Show only the rows that hold a text",
            "Filter", QKeySequence("Ctrl+F"));
  AddAction(view_menu, Command::kOpenAtLine, "&Open Page at Line",
            "Open the row's page in your editor at the link's line", "Open Page at Line",
            QKeySequence("Ctrl+E"));
  AddAction(view_menu, Command::kRecheck, "&Recheck Selected",
            "Check the selected rows' links again with the current settings", "Recheck",
            QKeySequence("Ctrl+R"));
  QAction* keep_checking =
      AddAction(view_menu, Command::kKeepChecking, "&Keep Checking",
                "Check each page of the last test again as it is saved", "Keep Checking");
  keep_checking->setCheckable(true);
  keep_checking->setChecked(settings_.Get(settings::kKeepChecking) != 0);
  connect(keep_checking, &QAction::toggled, this, [this](bool on) {
    settings_.Set(settings::kKeepChecking, on ? 1 : 0);
    UpdateWatch();
  });
  QAction* summary = AddAction(view_menu, Command::kSummary, "S&ummary",
                               "Show the rows per reason as a chart", "Summary");
  summary->setCheckable(true);
  connect(summary, &QAction::toggled, this, [this](bool shown) {
    summary_dock_->setVisible(shown);
    RefreshSummary();
  });
  view_menu->addSeparator();
  QAction* toolbar_toggle = AddAction(view_menu, Command::kToolbar, "&Toolbar",
                                      "Show or hide the toolbar", "Toggle Toolbar");
  QAction* status_toggle = AddAction(view_menu, Command::kStatusBar, "&Status Bar",
                                     "Show or hide the status bar", "Toggle Status Bar");
  BuildThemeMenu(view_menu);

  QMenu* options = menuBar()->addMenu("&Options");
  AddAction(options, Command::kPreferences, "&Preferences...", "Quimbel Preferences", "Preferences",
            QKeySequence("F2"));
  AddAction(options, Command::kStop, "&Stop Test", "Stop", "Stop", QKeySequence("Esc"));

  QMenu* help = menuBar()->addMenu("&Help");
  AddAction(help, Command::kHelpTopics, "&Help Topics", "List Help topics", "Help Topics",
            QKeySequence("F1"));
  help->addSeparator();
  AddAction(help, Command::kAbout, "&About Quimbel...",
            "Display program information, version number and copyright", "About");
  toolbar_toggle->setCheckable(true);
  toolbar_toggle->setChecked(true);
  status_toggle->setCheckable(true);
  status_toggle->setChecked(true);
  connect(status_toggle, &QAction::toggled, statusBar(), &QStatusBar::setVisible);
}

void MainWindow::BuildThemeMenu(QMenu* view_menu) {
  QMenu* theme_menu = view_menu->addMenu("T&heme");
  auto* group = new QActionGroup(this);
  const std::tuple<Command, Theme, const char*, const char*> choices[] = {
      {Command::kThemeSystem, Theme::kSystem, "&System", "Use the desktop's colours"},
      {Command::kThemeLight, Theme::kLight, "&Light", "Light colours in Qt's Fusion style"},
      {Command::kThemeDark, Theme::kDark, "&Dark", "Dark colours in Qt's Fusion style"},
  };
  const Theme stored = LoadTheme(settings_);
  for (const auto& [command, theme, text, prompt] : choices) {
    QAction* action = AddAction(theme_menu, command, text, prompt, QString(text).remove('&'));
    action->setCheckable(true);
    action->setChecked(theme == stored);
    group->addAction(action);
    connect(action, &QAction::triggered, this, [this, theme = theme] {
      ApplyTheme(theme);
      settings_.Set(settings::kTheme, static_cast<int>(theme));
    });
  }
  ApplyTheme(stored);
}

void MainWindow::BuildToolbar() {
  // One name wherever the toolbar is named: the View menu's and the
  // toolbar's own context menu.
  QToolBar* toolbar = addToolBar("Toolbar");
  toolbar->setIconSize(QSize(16, 15));
  toolbar->setAllowedAreas(Qt::AllToolBarAreas);
  const std::pair<Command, IconKind> buttons[] = {{Command::kSelectFiles, IconKind::kSelect},
                                                  {Command::kExport, IconKind::kExport},
                                                  {Command::kRepair, IconKind::kRepair},
                                                  {Command::kPrint, IconKind::kPrint},
                                                  {Command::kPreferences, IconKind::kPreferences},
                                                  {Command::kStop, IconKind::kStop},
                                                  {Command::kAbout, IconKind::kAbout}};
  for (const auto& [command, icon] : buttons) {
    actions_[command]->setIcon(MakeIcon(icon));
    toolbar->addAction(actions_[command]);
    // Separators after Repair, after Print and after Stop.
    if (command == Command::kRepair || command == Command::kPrint || command == Command::kStop) {
      toolbar->addSeparator();
    }
  }
  QAction* toolbar_toggle = actions_[Command::kToolbar];
  connect(toolbar_toggle, &QAction::toggled, toolbar, &QToolBar::setVisible);
  // Hidden from its own context menu too: the menu item follows.
  connect(toolbar, &QToolBar::visibilityChanged, toolbar_toggle, &QAction::setChecked);
}

void MainWindow::ConnectCommands() {
  WindowCommands* commands = &view_->commands();
  const std::pair<Command, void (WindowCommands::*)()> run_commands[] = {
      {Command::kSelectFiles, &WindowCommands::SelectFiles},
      {Command::kPreferences, &WindowCommands::Preferences},
      {Command::kStop, &WindowCommands::StopTest},
      {Command::kExport, &WindowCommands::Export},
      {Command::kRepair, &WindowCommands::Repair},
      {Command::kPrint, &WindowCommands::Print},
      {Command::kPrintPreview, &WindowCommands::PrintPreview},
      {Command::kPrintSetup, &WindowCommands::PrintSetup},
      {Command::kOpenAtLine, &WindowCommands::OpenPageAtLine},
      {Command::kRecheck, &WindowCommands::RecheckSelected},
  };
  for (const auto& [command, member] : run_commands) {
    connect(actions_[command], &QAction::triggered, view_,
            [commands, member = member] { (commands->*member)(); });
  }
  connect(actions_[Command::kAbout], &QAction::triggered, this, [this] {
    AboutDialog about(this, visited_->mail, visited_->home);
    about.exec();
  });
  connect(actions_[Command::kExit], &QAction::triggered, this, &QWidget::close);
  connect(actions_[Command::kFileOrder], &QAction::triggered, view_, &ResultsView::ShowFileOrder);
  connect(actions_[Command::kFind], &QAction::triggered, this, [this] {
    search_->setFocus(Qt::ShortcutFocusReason);
    search_->selectAll();
  });
  // The row commands follow the selection.
  connect(view_->selectionModel(), &QItemSelectionModel::selectionChanged, this,
          [this] { UpdateCommands(); });
  // F6 and Shift+F6 move between the two panes.
  for (const char* key : {"F6", "Shift+F6"}) {
    auto* next_pane = new QShortcut(QKeySequence(key), this);
    connect(next_pane, &QShortcut::activated, this, [this] {
      if (log_->hasFocus()) {
        view_->setFocus(Qt::ShortcutFocusReason);
      } else {
        log_->setFocus(Qt::ShortcutFocusReason);
      }
    });
  }
  connect(actions_[Command::kHelpTopics], &QAction::triggered, this,
          [] { OpenHelp(kHelpContents); });
}

}  // namespace quimbel
