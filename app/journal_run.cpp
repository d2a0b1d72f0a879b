#include "app/journal_run.h"

#include <cstdint>

#include "app/exit_status.h"
#include "firmware/firmware.h"
#include "mfu/version.h"
#include "resources/resources.h"
#include "resources/text_ids.h"
#include "zmodem/zmodem.h"

namespace mfu {

JournalOutcome OutcomeOfExitStatus(int exit_status) {
  switch (exit_status) {
    case kExitSucceeded:
      return JournalOutcome::kSucceeded;
    case kExitNoModem:
      return JournalOutcome::kNoModem;
    case kExitDeclined:
      return JournalOutcome::kDeclined;
    default:
      // The journal tells a cancel from a failure by the log.
      return JournalOutcome::kFailed;
  }
}

RunJournal::RunJournal(const std::string& port_option, JournalStore& store) {
  JournalRunInfo info;
  info.version = kProgramVersion;
  char name[64];
  LoadText(kTextFirmwareName, name, sizeof name);
  info.image_name = name;
  FirmwareFile image;
  if (FindFirmwareFile(image)) {
    std::uint32_t crc = 0xFFFFFFFFu;
    for (std::int32_t i = 0; i < image.size; ++i) crc = UpdateCrc32(crc, image.data[i]);
    info.image_crc = crc ^ 0xFFFFFFFFu;
    info.image_found = true;
  }
  info.port_option = port_option;
  // A journal that cannot be written says so in the log, once; the run goes on.
  (void)journal_.Begin(store, info);
  SetJournal(&journal_);
}

RunJournal::~RunJournal() {
  journal_.Finish(JournalOutcome::kFailed);
  SetJournal(nullptr);
}

void RunJournal::Finish(int exit_status) { journal_.Finish(OutcomeOfExitStatus(exit_status)); }

}  // namespace mfu
