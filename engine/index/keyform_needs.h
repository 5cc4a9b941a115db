// What key navigation (sets, ranges, current key images, distinct counts)
// needs of key formation and of the key map: forming a record's key
// (frmkey), transforming a search target (TFRMKEY), the key form of a
// segment's lowest and highest value (zvfillseg), and each index's data
// file and segment list.
#pragma once

#include "engine/index/keymap.h"
#include "engine/index/segmode.h"
#include "zarvo/zarvo.h"
