// What the walk makes of one target text, stated from its rules. This
// restates the rules, not the product's code, on purpose: the property tests
// compare the walk against it, so it shares nothing with the product.
#ifndef TESTS_PROOF_TARGET_RULES_H_
#define TESTS_PROOF_TARGET_RULES_H_

#include <string>

namespace proof {

// The text ends at its first zero; unless that lies within 260 bytes the
// target fails; the text is cut at its last comma, blanks (0x20 only) are
// trimmed from both ends; the target fails if that leaves nothing; one
// trailing '\' or '/' is dropped unless it is the trail byte of a double-byte
// character of code page 936 (no byte of a UTF-8 sequence is ASCII, so under
// 65001 every such byte is a separator); the target fails unless what is
// left is a full path (an ASCII letter, ':' and then '\', '/' or nothing; or
// two leading separators); else the callback gets the directory and
// directory + "\Bin\config.ini".
struct TargetOutcome {
  bool called;
  std::string directory;
  std::string config_path;
};
TargetOutcome ExpectedTarget(const std::string& stored, unsigned code_page);

}  // namespace proof

#endif  // TESTS_PROOF_TARGET_RULES_H_
