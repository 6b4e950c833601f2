#pragma once

// The key of a sibling link (one of a file's hard links): nothing after the
// common header is read.

struct JSiblingKeyT {};
