"""Runs one module of end-to-end tests.

    run.py --tool HELPER [--shipped-tool HELPER] [--support DIR] [--fixtures DIR]
           MODULE [NAME...]

Exits 0 when every test passed, 1 when one failed, and 77 (CTest's skip
status here) when every test was skipped, such as when not run as root.
"""

import argparse
import os
import sys
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
SKIPPED = 77


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--tool", required=True, help="the test build of the tool")
    parser.add_argument("--shipped-tool", help="the shipped build, trusting Apple's roots only")
    parser.add_argument("--support", default=os.path.join(HERE, "..", "support"),
                        help="the folder of the sandbox and its stand-ins")
    parser.add_argument("--fixtures", help="the built fixtures, with the sample bundles in bundles/")
    parser.add_argument("--signature-check", help="the engine's own command")
    parser.add_argument("--test-ca", help="the tests' certificate authority (root.pem and the others)")
    parser.add_argument("--downloads", help="the cache of published binaries the engine's tests fetch")
    parser.add_argument("--macos-build", help="the macOS build's folder, with its signed sample bundle")
    parser.add_argument("module", help="test module, e.g. test_spine")
    parser.add_argument("names", nargs="*", help="only these tests (Class or Class.test)")
    args = parser.parse_args()
    if args.fixtures and not os.path.isdir(os.path.join(args.fixtures, "bundles")):
        parser.error(f"no sample bundles in {args.fixtures}: build the target helper_signed_fixtures")

    sys.path.insert(0, HERE)
    import harness
    harness.Config.tool = os.path.abspath(args.tool)
    harness.Config.shipped_tool = args.shipped_tool and os.path.abspath(args.shipped_tool)
    harness.Config.support = os.path.abspath(args.support)
    harness.Config.fixtures = args.fixtures and os.path.abspath(args.fixtures)
    harness.Config.signature_check = args.signature_check and os.path.abspath(args.signature_check)
    harness.Config.test_ca = args.test_ca and os.path.abspath(args.test_ca)
    harness.Config.downloads = args.downloads and os.path.abspath(args.downloads)
    harness.Config.macos_build = args.macos_build and os.path.abspath(args.macos_build)

    loader = unittest.TestLoader()
    module = __import__(args.module)
    if args.names:
        suite = loader.loadTestsFromNames(args.names, module)
    else:
        suite = loader.loadTestsFromModule(module)
    result = unittest.TextTestRunner(verbosity=2).run(suite)
    if not result.wasSuccessful():
        return 1
    if result.testsRun and len(result.skipped) == result.testsRun:
        for _, reason in result.skipped[:1]:
            print(f"skipped: {reason}")
        return SKIPPED
    return 0


if __name__ == "__main__":
    sys.exit(main())
