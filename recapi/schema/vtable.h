// Virtual tables and partition settings: what table open, close and the
// record layer share with the virtual-table module (vtable.cpp) and the
// partition module (tablepart.cpp).
//
// A multi-record-type table (virtual-table kind 0x10000) keeps its records
// in another table's data file, its host; the host holds its definition as
// the resource "QV!VFLT" (type 2, number = the virtual table's number) and
// the last number given as "QV!VTNB" (type 3, number 0). An open virtual
// table carries its type information (ZVDBVTDEF) in its table handle: its
// name, the filter that selects its records among the host's, its record
// schema in the engine's block form (what the filter is parsed against) and
// its default-index settings.
#pragma once

#include <cstdint>
#include <vector>

#include "recapi/base/handles.h"

// Virtual-table kind of a multi-record-type table.
constexpr uint32_t kZvdbMultiRecordType = 0x10000;

// The type information of a multi-record-type table (tagZVDBTABLE::vtinfo),
// owned by its table; every pointer is owned by it.
struct ZVDBVTDEF {
    char *name;                 // the virtual table's name
    char *filter;               // filter expression; NULL: none
    void *tree;                 // the filter parsed (cndxparse), NULL until first use
    unsigned char *schema;      // field-type block of its record schema; NULL until read
    int32_t schemasize;
    unsigned char *names;       // field-name block (count byte, name, zero byte per field)
    int32_t namessize;
    int32_t typeindex;          // default-index settings: index number, -1 until set
    unsigned char *key1;        //   first key bytes
    int32_t key1len;
    unsigned char *key2;        //   second key bytes
    int32_t key2len;
    int32_t value;              //   -1 until set
};

extern "C" {

// A new type information holding a copy of name (NULL: none): NULL when
// memory is short.
ZVDBVTDEF *_zvdbAllocVTableDef(const char *name);
// Frees the type information and all it holds; NULL is ignored.
void _zvdbFreeVTableDef(void *def);
// Reads the record schema of a virtual table (its table open on its host's
// files, its kind and number set) from the host's "QV!VFLT": the schema
// entries, the record description and the type information's name, filter
// and schema. 0, 4025 a resource that is not a definition of this kind, 4001,
// the resource read's code.
ZVDBRET _zvdbReadVTableSchema(tagZVDBTABLE *t);
// The partition rule kept in a partitioned data file into *rule (a new
// string, NULL for the date rule or none): 0 or the code.
ZVDBRET _allocAndGetPARTRES(ZVHANDLE table, char **rule);

}  // extern "C"

namespace zv {

// The data of resource (type, number) of a data file (what follows its
// name) into *data: 0, 408 absent (also for a file without resources), 407
// a record without a name, the read's code.
int resource_data(int datno, uint32_t type, uint32_t number, std::vector<unsigned char> *data);

// The name index names of a multi-record-type table are made from: its
// type information's name, else the table's.
const char *vtable_name(const tagZVDBTABLE *t);

}  // namespace zv
