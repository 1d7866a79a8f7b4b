#pragma once
// Which commands the main window offers, as a function of the program's state: the window applies
// it, the tests check the whole table without a window.
#include <QHash>
#include <QString>

namespace kdr {

enum class CommandRule {
    Always,
    Online,             // the selected reader's Status is exactly "ONLINE"
    OnlineHlxBus,       // online, and the bus port runs at 9600 baud
    HasCards,           // the card table holds at least one record
    HasCardsAndBackups, // ... and the reader's inactive folder holds a "*.vtd" file
};

struct CommandRuleRow {
    const char *button;
    const char *caption;
    CommandRule rule;
};

// UpdateBtnState, one row per button.
inline constexpr CommandRuleRow kCommandRules[] = {
    {"btnToSelForDel", "+", CommandRule::Always},
    {"btnSaveReadCards", "+", CommandRule::Always},
    {"btnWriteAllCards", "+", CommandRule::Always},
    {"btnChangeParams", "Set parameters", CommandRule::Always},
    {"btnChangeCard", "Change(Add) card", CommandRule::Always},
    {"btnGetParams", "Get parameters", CommandRule::Online},
    {"btnReadKDR", "Read All Cards", CommandRule::Online},
    {"btnReadKDRFunc", "Read All functions", CommandRule::OnlineHlxBus},
    {"btnUpdateCards", "Update cards", CommandRule::Online},
    {"btnSaveAs", "Export As...", CommandRule::HasCards},
    {"btnImportAs", "Import As...", CommandRule::HasCards},
    {"btnSmplAppend", "Add data...", CommandRule::HasCards},
    {"btnRestoreCards", "Restore...", CommandRule::HasCardsAndBackups},
    {"btnAutoFillPerson", "Auto-fill person", CommandRule::HasCards},
    {"btnPrint", "Print", CommandRule::HasCards},
};

struct CommandInputs {
    bool online = false;
    bool bus9600 = false;
    int cardRecords = 0;
    bool backupsInInactiveFolder = false;
};

bool commandEnabled(CommandRule rule, const CommandInputs &in);
// Button name -> enabled, for every row of the table.
QHash<QString, bool> commandStates(const CommandInputs &in);

// "Delete card(s)" and "Set function(s)" need a saved card number in the current slot.
inline bool cardButtonsEnabled(bool currentSlotHasSavedCard) { return currentSlotHasSavedCard; }

// Closing: refused while the loader or the downloader runs; the log line names the thread.
struct CloseDecision {
    bool allowed;
    QString logLine; // empty when allowed
};
CloseDecision decideClose(bool loadingFiles, qint64 loaderThreadId, bool downloadingFiles, qint64 downloadThreadId);

// Status panel 1 (the progress bar) takes what panels 0 and 2 leave, less 5 pixels.
inline int progressPanelWidth(int clientWidth, int panel0, int panel2) { return clientWidth - panel0 - panel2 - 5; }

} // namespace kdr
