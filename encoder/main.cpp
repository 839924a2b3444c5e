// ostrelenc: the interactive encoder. The dialogue asks for source, target and data rate; the
// frame loop codes the source.
#include <csignal>
#include <utility>

#include "encoder/Dialogue.h"
#include "encoder/FrameLoop.h"
#include "platform/SignalChain.h"

int main() {
  // Past a file-size limit a write then fails with EFBIG, which the frame loop reports (and the
  // file keeps the frame count 0), instead of the process being killed without a word.
  std::signal(SIGXFSZ, SIG_IGN);
  ostrel::InstallSignalChain();
  // `dialogue` keeps the target's removal on a signal armed until the frame loop's stop on a
  // signal takes over.
  ostrel::DialogueResult dialogue = ostrel::RunDialogue(ostrel::StandardDialogueConsole());
  if (dialogue.status != 0) return dialogue.status;
  return ostrel::RunFrameLoop(dialogue.params, *dialogue.in, std::move(dialogue.fptr));
}
