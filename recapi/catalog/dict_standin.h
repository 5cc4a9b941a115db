// Test support while the dictionaries and databases are stand-ins
// (dict_standin.cpp): routines that answer a dictionary open or create in
// their place. Without them both answer 4054, like every other stand-in.
#pragma once

namespace zv {

struct DictStandInHooks {
    int (*open)(const char *name, int exclusive, int trysuper);
    int (*create)(const char *name, int insuper);
};

// Installs the hooks (NULL removes them); the caller keeps them alive.
void set_dict_standin_hooks(const DictStandInHooks *hooks);

}  // namespace zv
