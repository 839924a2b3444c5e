// ostrelenc: the encoder. Without arguments the dialogue asks for source, target and data rate and
// the frame loop codes the source; with arguments the command line names them.
#include <utility>

#include "encoder/CommandLineRun.h"
#include "encoder/Dialogue.h"
#include "encoder/FrameLoop.h"
#include "platform/SignalChain.h"

int main(int argc, char** argv) {
  // Before anything else, so that no signal finds the program half set up. Past a file-size
  // limit a write then fails, which the frame loop reports (the file keeps the frame count 0).
  ostrel::InstallSignalChain();
  if (argc > 1) return ostrel::RunEncoderCommandLine(argc, argv);
  // `dialogue` keeps the target's removal on a signal armed until the frame loop's stop on a
  // signal takes over.
  ostrel::DialogueResult dialogue = ostrel::RunDialogue(ostrel::StandardDialogueConsole());
  if (dialogue.status != 0) return dialogue.status;
  return ostrel::RunFrameLoop(dialogue.params, *dialogue.in, std::move(dialogue.fptr));
}
