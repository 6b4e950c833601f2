#pragma once

// The key of an inode, a physical extent, a data stream's id or a sibling
// map: nothing after the common header is read.

struct JEmptyKeyT {};
