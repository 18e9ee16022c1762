// Copying a file so that its destination is never partial: the copy is
// written under a name of its own next to the destination, written through
// to the disk, and only then given the destination's name, in one step.
#pragma once

#include <string>

#include "common/failure.h"
#include "launcher/file_steps.h"

namespace tavrelo {

// The name a copy has until it is whole: the destination's name followed by
// ".tavrelo-partial". A launcher that was ended while it copied leaves it
// behind; the next copy to the same destination replaces it.
std::u16string PartialCopyPath(const std::u16string& destination);

// Copies `source` to `destination`, replacing a file of that name. Whatever
// stops the copy, the destination is either as it was or the whole copy.
// While another process copies to the same destination, waits for it (a
// minute at most, then fails with the sharing violation), and takes the file
// it copied when it is there. Fails with the system's error
// number and a message naming both files; the partial copy is then removed.
Outcome<void> CopyWhole(FileSteps& steps, const std::u16string& source,
                        const std::u16string& destination);

}  // namespace tavrelo
