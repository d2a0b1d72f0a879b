// The numbers of the message texts in the string table (string_table.inc),
// by what each says or is for. The table keeps the numbers: the Windows build
// generates its string table resource from it under the same ids.
#pragma once

namespace mfu {

enum TextId : unsigned {
  // Log file export.
  kTextLogDialogTitle = 16,      // "Speichern Update-Log unter ..."
  kTextLogFilterName = 17,       // "Firmware Update Log-Dateien"
  kTextAllFilesFilterName = 18,  // "Alle Dateien"
  kTextLogCannotOpen = 19,       // notice: the file cannot be opened
  kTextLogWriteFailed = 20,      // notice: the file was not completely written
  kTextLogCreateQuestion = 21,   // question of the file dialog, "%s" the path
  kTextLogFolderMissing = 22,    // notice of the file dialog, "%s" the folder

  // A build that carries the stand-in image instead of real firmware.
  kTextStandInImage = 23,        // "Achtung: Dieses Programm enthält nur ein Test-Abbild, ..."
  kTextStandInRealPort = 24,     // "%s ist eine echte serielle Schnittstelle. ..."


  // Why a port failed, and what to do ("%s" the port as the user knows it).
  kTextPortMissing = 25,         // "Die Schnittstelle %s gibt es nicht. ..."
  kTextPortNoPermission = 26,    // "Keine Berechtigung für %s. ... dialout ..."
  kTextPortBusy = 27,            // "%s wird von einem anderen Programm benutzt%s." (" (NAME, PID N)")
  kTextPortNotSerial = 28,       // "%s ist keine serielle Schnittstelle."
  kTextModemManagerHint = 29,    // "ModemManager greift auf Modems zu. ..."
  kTextPortsTried = 30,          // "Geprüfte Schnittstellen:" (heads the search's list)
  kTextPortShared = 31,          // "Achtung: %s ist auch von %s (PID %d) geöffnet. ..."
  kTextPortNoAnswer = 35,        // "%s antwortet nicht."
  kTextPortNoIdentifier = 36,    // "%s antwortet, aber nicht als KELVORA-Modem."
  kTextPortCannotOpen = 37,      // "%s lässt sich nicht öffnen."
  kTextCauseBlockRefused = 38,   // "Ursache: Das Modem hat Block %u von %u nicht angenommen (%s)."
  kTextCauseNoAnswer = 39,       // "Ursache: Das Modem hat auf %s nicht innerhalb von %u Sekunden geantwortet."
  kTextCauseLineBroken = 40,     // "Ursache: Die Verbindung zum Modem ist abgebrochen (%s). ..."
  kTextCauseNotConfirmed = 41,   // "Ursache: Der Flash-Loader hat das Update nicht bestätigt."
  kTextJournalWhere = 42,        // "Das Protokoll dieses Laufs steht in %s." (ends every update's log)
  kTextSeeListPorts = 43,        // "Mit modem-update --list-ports sehen Sie alle Schnittstellen; ..."
  kTextStandInPortsSkipped = 44, // "Echte serielle Schnittstellen wurden nicht durchsucht: ..." (once per search)
  kTextModemManagerCause = 45,   // "Wahrscheinliche Ursache: ModemManager hat die Antworten ..." (download mode silent)
  kTextJournalNotWritten = 46,   // "Das Protokoll dieses Laufs kann nicht gespeichert werden: %s." (once per run)
  kTextPortUnreachable = 47,     // "%s ist nicht erreichbar: %s." (a network port; the reason)
  kTextCauseStepRefused = 48,    // "Ursache: Das Modem hat %s nicht angenommen (%s)." (not a data block)

  // The console and the window.
  kTextNoDownloadMode = 32,      // "Das Modem hat im Download-Modus nicht geantwortet. ..."
  kTextNoDisplay = 33,           // "Keine grafische Oberfläche gefunden. ..." (no display for the window)

  // The closing table of a console run on several ports: each port's outcome.
  kTextRunSucceeded = 60,        // "erfolgreich"
  kTextRunFailed = 61,           // "fehlgeschlagen"
  kTextRunCancelled = 62,        // "abgebrochen"
  kTextRunNotReached = 63,       // "nicht erreicht"
  kTextRunNotStarted = 64,       // "nicht gestartet"
  kTextRunUsageError = 65,       // "Aufruffehler"
  kTextRunCrashed = 66,          // "abgestürzt (Signal %d)"

  // The progress log.
  kTextRetryHint = 2001,         // "Sie können noch mal probieren, ..." (first half)
  kTextRetryHintEnd = 2002,      // " und dann dieses Program neu starten."
  kTextPressStart = 2003,        // "Um Update zu starten, Klicken Sie <Update Starten> Button."
  kTextNoAnswer = 2004,          // "Keine Antwort von Modem!!!"
  kTextUpdateRunning = 2005,     // "Update läuft ..."
  kTextUpdateInterrupted = 2006, // "Update wurde unterbrochen!"
  kTextUpdateSucceeded = 2007,   // "Update ist erfolgreich abgeschlossen!"
  kTextUpdateFailed = 2008,      // "Update ist fehlgeschlagen."
  kTextToolStarts = 2009,        // "Modem-Update Tool startet."
  kTextSearching = 2010,         // "Suchen nach einem KELVORA-Modem ..."
  kTextStatusLinesFailed = 2011, // "GetCommModemStatus() vom %s fehlgeschlagen."
  kTextConnectionNotRight = 2012,// "Die Verbindung zum Modem ist noch nicht korrekt!"
  kTextModemFound = 2013,        // "Ein KELVORA-Modem wurde an %s gefunden."
  kTextNoModemFound = 2014,      // "Es wurde kein KELVORA-Modem gefunden."
  kTextCheckingModem = 2015,     // "Das Modem wird geprüft, bitte warten ..."
  kTextCannotAccessModem = 2016, // "Kann nicht auf Modem zugreifen, ..."
  kTextSendingFirmware = 2017,   // "Neue Firmware wird zum Modem geschickt ..."
  kTextAskCancelRunning = 2018,  // "Update läuft bereit, wollen Sie es abbrechen ?"
  kTextAskCancelSure = 2019,     // "Sind Sie sicher, Update abzubrechen ?"
  kTextAskStartUpdate = 2020,    // "Sind Sie sicher, die Firmware des Modems ... zu ersetzen ?"
  kTextLogFileHeading = 2021,    // "Modem-Update-Log"

  // The firmware file as the modem is told of it, and its report.
  kTextFirmwareName = 2029,      // "bc2780ix.bin"
  kTextFirmwareDateOctal = 2030, // the file date in octal, as ZFILE carries it
  kTextFirmwareDate = 2031,      // the same date in decimal seconds since 1970
  kTextNewFirmwareName = 2032,   // "Neue Firmware:  Name  - %s"
  kTextNewFirmwareDate = 2033,   // "  Datum - %s"
  kTextCheckingFlash = 2034,     // "Flash wird geprüft..."

  // The help text, in seven pieces.
  kTextHelpFirst = 2040,
  kTextHelpLast = 2046,
};

}  // namespace mfu
