#pragma once
// A package opened through the host seam, listed into the entry list of a host
// dialog and extracted below a temporary root, as the main dialog does it.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "archive/walk.h"
#include "extract/engine.h"
#include "base/state.h"
#include "base/config.h"
#include "package/core.h"
#include "tests/support/host_double.h"
#include "tests/support/package_builder.h"
#include "ui/resource.h"

using Expected = std::vector<std::pair<std::string, uint32_t>>;  // message text and icon

class EngineTest : public ::testing::Test {
 protected:
  testpkg::TempDir root;
  HostDialog dialog;
  std::string package;
  uint8_t flags = 0x0A;   // the header's flag byte for Open

  void SetUp() override;
  void TearDown() override;
  void Restart() {
    TearDown();
    SetUp();
  }

  // Builds the package around 'zip', opens it and runs the listing walk.
  void Open(const std::string& zip);
  // Selects every item and runs the extraction walk into DestFolder.
  void Extract(bool skipExisting = false);

  std::vector<HostListItem>& Items() { return dialog.lists[IDC_ENTRY_LIST].Items(); }
  std::vector<std::string> StillSelected();
  std::string Out(const std::string& relative) const { return root / ("out/" + relative); }
  void ExpectMessages(const Expected& expected);
};

const char* const Success = AllExtractedText;
const char* const Failure = NotExtractedText;

// Every file (with its content) and folder ("/" appended) below 'dir'.
using Files = std::vector<std::pair<std::string, std::string>>;
Files Tree(const std::string& dir);
