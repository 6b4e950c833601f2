#pragma once

// What one signature search (the plain search or the photo and file carving)
// keeps while it runs: the marked types and the lookup groups made of them,
// the stream starts its recognisers walked, the RTF packages still waiting
// for their pictures and the name and folder a recogniser found inside a
// record. The scan that runs the search owns it and hands it to the
// recognisers, the recorder and the drivers; the program's wizard sets it up
// for the volume it chose, and the snapshot of an interrupted search keeps its
// stream lists. The scanned volume holds none of it.

#include "platform/Value.h"
#include "volume/DoneSectorList.h"

#include <string>

class SignatureSearchState {
public:
    // Ready for the next search: everything goes but the marks of the
    // photo scans, and a resumed search keeps the stream lists restored from
    // its snapshot.
    void resetForScan(bool resumed);
    // The finished search's types and lookup groups, which nothing reads
    // once the tree is complete.
    void releaseGroups();

    // The marked file types (SigNode objects).
    platform::Array sigArray;
    // The signature groups built from sigArray for a search: Dicts with
    // "Signature Offset", "Signature Header Length" and "Signature BTree" (a
    // tree whose items name records of sigArray, so it goes with them).
    platform::Array btreeSigArray;
    // Frame starts of the MPEG audio streams and pack starts of the MPEG
    // streams that a recogniser walked, as absolute sectors.
    DoneSectorList mp3DoneArray;
    DoneSectorList mpgDoneArray;
    // The pictures the last RTF packages name, to be filed in them.
    platform::Array rtfdArray;
    bool lookForRtfAttachments = false;
    // The name and folder path a recogniser found inside the record it
    // confirmed; empty when it found none.
    std::string foundName;
    std::string foundParentPath;
    // The photo scans keep only media files in the finished tree.
    bool filterTreeForMedia = false;
};
