#!/usr/bin/env python3
"""Runs scripts/check-layers on small trees made for each case: a clean tree
passes; an include of a higher layer, an up-call header used where it may
not be or too often or reaching above its users, a circle of includes
through two folders and an unranked folder fail, naming the file and line;
a baseline lets known violations pass and names the stale ones; with
compiled objects, a call into a higher layer fails unless the caller's
source includes that layer's up-call header.

  check_layers_test.py PATH_TO_CHECK_LAYERS
"""

import importlib.machinery
import shutil
import importlib.util
import os
import subprocess
import sys
import tempfile
import unittest

SCRIPT = os.path.abspath(sys.argv.pop(1) if len(sys.argv) > 1 else
                         os.path.join(os.path.dirname(__file__), "../../scripts/check-layers"))

# The script's own tables name the folders and the up-call headers, so that
# the trees below follow them when the order changes.
_loader = importlib.machinery.SourceFileLoader("check_layers", SCRIPT)
_spec = importlib.util.spec_from_loader("check_layers", _loader)
check_layers = importlib.util.module_from_spec(_spec)
_loader.exec_module(check_layers)

ranked = sorted(check_layers.LAYERS, key=check_layers.LAYERS.get)
LOW, HIGH = "engine/core", "engine/files"
assert check_layers.LAYERS[LOW] < check_layers.LAYERS[HIGH]
UPCALL, UPCALL_USERS = next(iter(check_layers.UPCALLS.items()))
USER = next(iter(UPCALL_USERS))
# A folder lower than the up-call header's users: it may not use it.
STRANGER = next(f for f in ranked
                if "/" in f and check_layers.LAYERS[f] < check_layers.LAYERS[USER])


class CheckLayers(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.TemporaryDirectory()
        self.root = self.tmp.name
        self.write(f"{LOW}/low.h", "#pragma once\n")
        self.write(f"{HIGH}/high.h", "#pragma once\n")
        self.write(f"{HIGH}/high.cpp", f'#include "{HIGH}/high.h"\n#include "{LOW}/low.h"\n')
        self.write("include/zarvo/api.h", "#pragma once\n")
        self.write(UPCALL, f'#pragma once\n#include "{LOW}/low.h"\n')

    def tearDown(self):
        self.tmp.cleanup()

    def write(self, path, text):
        full = os.path.join(self.root, path)
        os.makedirs(os.path.dirname(full), exist_ok=True)
        with open(full, "w") as f:
            f.write(text)

    def run_check(self, *extra):
        r = subprocess.run([sys.executable, SCRIPT, "--root", self.root, *extra],
                           capture_output=True, text=True)
        return r.returncode, r.stdout + r.stderr

    def assert_fails_with(self, *texts):
        rc, out = self.run_check()
        self.assertEqual(rc, 1, out)
        for t in texts:
            self.assertIn(t, out)
        return out

    def test_clean_tree_passes(self):
        rc, out = self.run_check()
        self.assertEqual(rc, 0, out)
        self.assertIn("0 violations", out)

    def test_upward_include_fails_naming_file_and_line(self):
        cases = [
            # (file, text, the line reported)
            (f"{LOW}/a.cpp", f'#include <cstdint>\n#include "{HIGH}/high.h"\n',
             f"{LOW}/a.cpp:2: includes {HIGH}/high.h"),
            (f"{LOW}/a.h", f'#pragma once\n  #  include "{HIGH}/high.h"\n',
             f"{LOW}/a.h:2: includes {HIGH}/high.h"),
            # A path relative to the including file that climbs out of it.
            (f"{LOW}/a.cpp", '#include "../../engine/files/high.h"\n',
             f"{LOW}/a.cpp:1: includes {HIGH}/high.h"),
            # A public header that includes an internal one.
            ("include/zarvo/b.h", f'#include "{LOW}/low.h"\n',
             f"include/zarvo/b.h:1: includes {LOW}/low.h"),
        ]
        for path, text, reported in cases:
            with self.subTest(path=path, text=text):
                self.tearDown()
                self.setUp()
                self.write(path, text)
                self.assert_fails_with(reported)

    def test_downward_and_unknown_includes_pass(self):
        self.write(f"{HIGH}/b.cpp", '#include "high.h"\n#include "zarvo/api.h"\n'
                   '#include <zarvo/api.h>\n#include "not/here.h"\n// #include "engine/files/high.h"\n')
        self.write(f"{LOW}/c.cpp", f'// #include "{HIGH}/high.h"\n#include "low.h"\n')
        rc, out = self.run_check()
        self.assertEqual(rc, 0, out)

    def test_upcall_header_only_for_its_folders(self):
        self.write(f"{USER}/user.cpp", f'#include "{UPCALL}"\n')
        rc, out = self.run_check()
        self.assertEqual(rc, 0, out)
        self.write(f"{STRANGER}/other.cpp", f'#include "{UPCALL}"\n')
        self.assert_fails_with(f"{STRANGER}/other.cpp:1: includes {UPCALL}")

    def test_upcall_header_within_its_count(self):
        most = UPCALL_USERS[USER]
        if most is None:
            self.skipTest("the up-call header has no limit")
        for i in range(most):
            self.write(f"{USER}/user{i}.cpp", f'#include "{UPCALL}"\n')
        rc, out = self.run_check()
        self.assertEqual(rc, 0, out)
        self.write(f"{USER}/one_more.cpp", f'#include "{UPCALL}"\n')
        self.assert_fails_with(f"{UPCALL} is included by {most + 1} files of {USER}, "
                               f"at most {most} allowed")

    def test_upcall_header_reaching_above_its_users_fails(self):
        above = next(f for f in ranked if check_layers.LAYERS[f] > check_layers.LAYERS[USER])
        self.write(f"{above}/top.h", "#pragma once\n")
        self.write(UPCALL, f'#pragma once\n#include "{above}/top.h"\n')
        self.assert_fails_with(f"{UPCALL}:2: the up-call header includes {above}/top.h")

    def test_circle_through_two_folders_fails(self):
        # Two folders of one layer, so that only the circle is wrong.
        self.write("recapi/base/a.h", '#pragma once\n#include "recapi/schema/b.h"\n')
        self.write("recapi/schema/b.h", '#pragma once\n#include "recapi/schema/c.h"\n')
        self.write("recapi/schema/c.h", '#pragma once\n#include "recapi/base/a.h"\n')
        self.assert_fails_with("include circle through recapi/base/a.h, recapi/schema/b.h, "
                               "recapi/schema/c.h",
                               "recapi/base/a.h:2 -> recapi/schema/b.h",
                               "recapi/schema/c.h:2 -> recapi/base/a.h")

    def test_circle_inside_one_folder_passes(self):
        self.write(f"{LOW}/a.h", '#pragma once\n#include "b.h"\n')
        self.write(f"{LOW}/b.h", '#pragma once\n#include "a.h"\n')
        rc, out = self.run_check()
        self.assertEqual(rc, 0, out)

    def test_unranked_folder_fails(self):
        self.write("engine/newpart/x.cpp", f'#include "{LOW}/low.h"\n')
        self.assert_fails_with("engine/newpart: folder not in the layer table")

    def test_empty_tree_fails(self):
        with tempfile.TemporaryDirectory() as empty:
            r = subprocess.run([sys.executable, SCRIPT, "--root", empty],
                               capture_output=True, text=True)
        self.assertEqual(r.returncode, 1, r.stdout)

    def test_baseline_holds_known_violations_only(self):
        self.write(f"{LOW}/a.cpp", f'#include "{HIGH}/high.h"\n')
        baseline = os.path.join(self.root, "baseline")
        with open(baseline, "w") as f:
            f.write(f"# known\n{LOW}/a.cpp -> {HIGH}/high.h\n{LOW}/gone.cpp -> {HIGH}/high.h\n")
        rc, out = self.run_check("--baseline", baseline)
        self.assertEqual(rc, 0, out)
        self.assertIn("1 violations, 1 of them in the baseline", out)
        self.assertIn(f"matches nothing any more (remove it): {LOW}/gone.cpp -> {HIGH}/high.h", out)
        self.write(f"{LOW}/b.cpp", f'#include "{HIGH}/high.h"\n')
        rc, out = self.run_check("--baseline", baseline)
        self.assertEqual(rc, 1, out)
        self.assertIn(f"violations not in the baseline:\n  {LOW}/b.cpp:1: includes", out)
        self.assertNotIn(f"  {LOW}/a.cpp:1: includes", out)


    def compile_objects(self, *sources):
        """Compiles each source of the tree into an object named as CMake
        names it (objs/x.dir/<source>.o) and gives the objects' paths."""
        cxx = shutil.which("c++") or shutil.which("g++")
        if not cxx:
            self.skipTest("no C++ compiler")
        objs = []
        for src in sources:
            obj = os.path.join(self.root, "objs", "x.dir", src + ".o")
            os.makedirs(os.path.dirname(obj), exist_ok=True)
            subprocess.run([cxx, "-c", "-I", self.root, os.path.join(self.root, src), "-o", obj], check=True)
            objs.append(obj)
        return objs

    def test_call_into_a_higher_layer_needs_its_upcall_header(self):
        upper = check_layers.layer_of(UPCALL)
        self.write(f"{upper}/service.cpp", 'extern "C" int upper_service(void) { return 7; }\n')
        # Declared where it is used, as a public header would: invisible to
        # the include check.
        call = 'extern "C" int upper_service(void);\nint user(void) { return upper_service(); }\n'
        self.write(f"{USER}/caller.cpp", call)
        objs = self.compile_objects(f"{upper}/service.cpp", f"{USER}/caller.cpp")
        rc, out = self.run_check("--objects", ";".join(objs))
        self.assertEqual(rc, 1, out)
        self.assertIn(f"{USER}/caller.cpp: refers to upper_service, defined in {upper}/service.cpp", out)
        # The same call from a source that includes the layer's up-call header.
        self.write(f"{USER}/caller.cpp", f'#include "{UPCALL}"\n' + call)
        objs = self.compile_objects(f"{upper}/service.cpp", f"{USER}/caller.cpp")
        rc, out = self.run_check("--objects", *objs)
        self.assertEqual(rc, 0, out)
        self.assertIn("2 objects checked; 0 violations", out)
        # A call downward needs nothing.
        self.write(f"{upper}/service.cpp", 'extern "C" int user_low(void);\n'
                   'extern "C" int upper_service(void) { return user_low(); }\n')
        self.write(f"{USER}/caller.cpp", 'extern "C" int user_low(void) { return 1; }\n')
        objs = self.compile_objects(f"{upper}/service.cpp", f"{USER}/caller.cpp")
        rc, out = self.run_check("--objects", *objs)
        self.assertEqual(rc, 0, out)

    def test_objects_of_no_ranked_source_fail(self):
        rc, out = self.run_check("--objects", os.path.join(self.root, "objs/x.dir/engine/core/gone.cpp.o"))
        self.assertEqual(rc, 1, out)
        self.assertIn("no object of a ranked source", out)


if __name__ == "__main__":
    unittest.main(verbosity=2)
