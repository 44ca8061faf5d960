// Blanking (or formatting) a rewritable disc.
#include "burner/BurnJob.h"

#include "burner/GrabbedDrive.h"

#include <chrono>
#include <thread>

#include <libburn/libburn.h>

namespace burner {

EraseJob::EraseJob(std::string address, bool full, bool eject)
    : m_address(std::move(address)), m_full(full), m_eject(eject) {}

BurnOutcome EraseJob::Work(engine::JobObserver& observer) {
    BurnOutcome error;
    std::unique_ptr<GrabbedDrive> drive = GrabbedDrive::Open(m_address, true, error);
    if (!drive)
        return error;
    // A drive that cannot write is refused before the job shows any phase.
    if (!drive->CanWrite())
        return Fail(BurnError::ReadOnlyDrive, m_address);
    Phase(observer, BurnPhase::Preparing, 1, 1);
    MediumState state = drive->Medium();
    if (state == MediumState::Empty || state == MediumState::Unready)
        return Fail(BurnError::NoMedium);
    // DVD-RAM, DVD+RW and BD-RE are not blanked but formatted (which a new
    // one needs before its first use anyway).
    int profile = 0;
    char profileName[80] = {};
    burn::burn_disc_get_profile(drive->drive(), &profile, profileName);
    const bool format = profile == 0x12 || profile == 0x1a || profile == 0x43;
    // A write-only stdio file (role 5) is blanked by truncation; libburn does
    // not call it erasable.
    if (!format && drive->Role() != 5 && !burn::burn_disc_erasable(drive->drive()))
        return Fail(BurnError::NotErasable, drive->MediumName());
    if (StopRequested())
        return Fail(BurnError::Cancelled);
    Phase(observer, BurnPhase::Erasing, 1, 1);
    TakeLibraryMessages();
    const std::string startWords = drive->Start([&] {
        if (format)
            // Default size; a full erase formats anew, a quick one skips the
            // lengthy certification.
            burn::burn_disc_format(drive->drive(), 0, 6 | (m_full ? 16 : 64));
        else
            burn::burn_disc_erase(drive->drive(), m_full ? 0 : 1);
    });
    // Blanking cannot be cancelled halfway; a stop asked meanwhile is noted
    // once it ends.
    burn::burn_progress p;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    while (burn::burn_drive_get_status(drive->drive(), &p) != burn::BURN_DRIVE_IDLE) {
        if (p.sectors > 0)
            observer.OnProgress(static_cast<float>(100.0 * p.sector / p.sectors));
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    const bool well = burn::burn_drive_wrote_well(drive->drive());
    std::string words = TakeLibraryMessages();
    if (words.empty())
        words = startWords;
    if (!well)
        return Fail(BurnError::NotErasable, words);
    observer.OnProgress(100);
    drive->EjectOnClose(m_eject);
    return {};
}

} // namespace burner
