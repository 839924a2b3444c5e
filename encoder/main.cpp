// ostrelenc: the interactive encoder. The dialogue asks for source, target and data rate; the
// frame loop codes the source.
#include <csignal>

#include "encoder/Dialogue.h"
#include "encoder/FrameLoop.h"

int main() {
  // Past a file-size limit a write then fails with EFBIG, which the frame loop reports (and the
  // file keeps the frame count 0), instead of the process being killed without a word.
  std::signal(SIGXFSZ, SIG_IGN);
  ostrel::DialogueResult dialogue = ostrel::RunDialogue(ostrel::StandardDialogueConsole());
  if (dialogue.status != 0) return dialogue.status;
  return ostrel::RunFrameLoop(dialogue.params, *dialogue.in, dialogue.fptr);
}
