// The module as a host first meets it: load it, call the exported entry,
// read the record it returns.
#include <gtest/gtest.h>

#include <cstring>

#include "support/TestHost.h"

namespace {

// Field offsets read from raw memory, independent of our own declaration of
// the record: 32-bit builds have the 144-byte record, 64-bit builds the
// 192-byte one.
struct RecordOffsets {
  size_t numPrograms, numParams, numInputs, numOutputs, flags, ioRatio, uniqueID, version;
};
constexpr RecordOffsets kOffsets = sizeof(void*) == 4
                                       ? RecordOffsets{0x14, 0x18, 0x1C, 0x20, 0x24, 0x3C, 0x48, 0x4C}
                                       : RecordOffsets{40, 44, 48, 52, 56, 92, 112, 116};

int32_t readInt(const AEffect* effect, size_t offset) {
  int32_t v;
  std::memcpy(&v, reinterpret_cast<const unsigned char*>(effect) + offset, sizeof v);
  return v;
}

TEST(Entry, ModuleExportsTheEntryUnderBothNames) {
  std::string error;
  auto module = vsthost::Module::load(vtest::modulePath(), &error);
  ASSERT_TRUE(module) << error;
  void* main = module->symbol("main");
  ASSERT_NE(main, nullptr);
#if !(defined(_WIN32) && !defined(_WIN64))
  EXPECT_EQ(module->symbol("VSTPluginMain"), main);
  EXPECT_STREQ(module->entryName(), "VSTPluginMain");
#endif
}

TEST(Entry, RecordCarriesTheInstrumentsIdentity) {
  vtest::RecordingHost host;
  vtest::PluginInstance plugin(host);
  ASSERT_TRUE(plugin.ok()) << plugin.error();
  const AEffect* e = plugin.effect();

  const unsigned char* bytes = reinterpret_cast<const unsigned char*>(e);
  const unsigned char vstp[4] = {0x50, 0x74, 0x73, 0x56};  // "VstP", little-endian
  EXPECT_EQ(std::memcmp(bytes, vstp, 4), 0);
  EXPECT_EQ(readInt(e, 0), 0x56737450);

  EXPECT_EQ(readInt(e, kOffsets.numInputs), 2);
  EXPECT_EQ(readInt(e, kOffsets.numOutputs), 2);
  EXPECT_EQ(readInt(e, kOffsets.numPrograms), 1);
  EXPECT_EQ(readInt(e, kOffsets.numParams), 3);
  EXPECT_EQ(readInt(e, kOffsets.flags), 17);  // HasEditor | CanReplacing
  EXPECT_EQ(readInt(e, kOffsets.uniqueID), fourCharCode('K', 'V', '4', '2'));
  EXPECT_EQ(vsthost::fourCharText(readInt(e, kOffsets.uniqueID)), "KV42");
  EXPECT_EQ(readInt(e, kOffsets.ioRatio), 1);
  EXPECT_EQ(readInt(e, kOffsets.version), 1);

  // Our declaration of the record agrees with the raw reading.
  EXPECT_EQ(e->magic, kEffectMagic);
  EXPECT_EQ(e->numInputs, 2);
  EXPECT_EQ(e->numOutputs, 2);
  EXPECT_EQ(e->uniqueID, fourCharCode('K', 'V', '4', '2'));
  EXPECT_NE(e->dispatcher, nullptr);
  EXPECT_NE(e->processReplacing, nullptr);
}

// The whole dialogue of a construction. (A host that answers 0 to the
// version request: LifetimeTest, where the allocations can be counted.)
TEST(Entry, ConstructionAsksVersionVendorAndProductInThatOrder) {
  vtest::RecordingHost host;
  vtest::PluginInstance plugin(host);
  ASSERT_TRUE(plugin.ok()) << plugin.error();
  const auto calls = host.calls();
  ASSERT_EQ(calls.size(), 3u);
  EXPECT_EQ(calls[0].opcode, audioMasterVersion);
  EXPECT_EQ(calls[0].effect, nullptr);
  EXPECT_EQ(calls[1].opcode, audioMasterGetVendorString);
  EXPECT_EQ(calls[2].opcode, audioMasterGetProductString);
  for (int i = 1; i < 3; ++i) {
    EXPECT_EQ(calls[i].effect, plugin.effect());
    EXPECT_NE(calls[i].ptr, nullptr);
    EXPECT_EQ(calls[i].index, 0);
    EXPECT_EQ(calls[i].value, 0);
  }
}

TEST(Entry, CloseAnswersOne) {
  vtest::RecordingHost host;
  vtest::PluginInstance plugin(host);
  ASSERT_TRUE(plugin.ok()) << plugin.error();
  plugin.dispatch(effOpen);
  EXPECT_EQ(plugin.close(), 1);
}

TEST(Entry, InstancesAreIndependent) {
  vtest::RecordingHost host;
  vtest::PluginInstance a(host);
  vtest::PluginInstance b(host);
  ASSERT_TRUE(a.ok()) << a.error();
  ASSERT_TRUE(b.ok()) << b.error();
  EXPECT_NE(a.effect(), b.effect());
  a.setParameter(1, 0.25f);
  b.setParameter(1, 0.75f);
  EXPECT_FLOAT_EQ(a.getParameter(1), 0.25f);
  EXPECT_FLOAT_EQ(b.getParameter(1), 0.75f);
}

}  // namespace
