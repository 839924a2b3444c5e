// ostrelenc: the interactive encoder. The dialogue asks for source, target and data rate; the
// frame loop codes the source.
#include "encoder/Dialogue.h"
#include "encoder/FrameLoop.h"

int main() {
  ostrel::DialogueResult dialogue = ostrel::RunDialogue(ostrel::StandardDialogueConsole());
  if (dialogue.status != 0) return dialogue.status;
  return ostrel::RunFrameLoop(dialogue.params, *dialogue.in, dialogue.fptr);
}
