#include "signatures/SignatureSearchState.h"

void SignatureSearchState::resetForScan(bool resumed) {
    btreeSigArray.clear();
    rtfdArray.clear();
    lookForRtfAttachments = false;
    foundName.clear();
    foundParentPath.clear();
    if (resumed) return;
    sigArray.clear();
    mp3DoneArray.clear();
    mpgDoneArray.clear();
}

void SignatureSearchState::releaseGroups() {
    btreeSigArray.clear();
    sigArray.clear();
}
