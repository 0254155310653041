// Integration times and the modulation frequency: the validation tables at
// every boundary, the slot checks with their texts, and what a set sends to
// the camera.
#include <array>
#include <climits>
#include <string>
#include <vector>

#include "camera_fixture.h"

namespace {

using vyxtest::lastError;

constexpr unsigned int kId = 3;
constexpr unsigned int kUntouched = 0xDEADBEEF;
constexpr int kOutOfRange = -1;  // expected: refused with "... is out of range"

const Proximity kProximities[5] = {AtLeast, AtMost, CloseTo, static_cast<Proximity>(3),
                                   static_cast<Proximity>(100)};

struct ValidRow {
  unsigned int requested;
  int expected[5];  // per entry of kProximities
};

class ExposureTest : public vyxtest::OpenCameraTest {
 protected:
  void SetUp() override {
    lvtsim::CameraConfig cfg;
    cfg.frontend = {7, 8, 9, 10, 1234, 4321, 11, 25, 12};
    openCamera(kId, cfg);
    cam->clearLog();
  }

  unsigned int integrationTime(unsigned int idx) {
    unsigned int us = kUntouched;
    EXPECT_EQ(api().vyxpGetIntegrationTime(kId, &us, idx), VYX_OK);
    return us;
  }

  // Asks a validation entry point for every row's value under every
  // proximity in both slots; kOutOfRange expects the refusal with its text.
  using ValidQuery = decltype(vyxhost::EntryPoints::vyxpGetValidIntegrationTime);
  void checkTable(ValidQuery query, const char* unit, const std::vector<ValidRow>& rows,
                  const std::string& outOfRange) {
    for (const ValidRow& row : rows) {
      for (int k = 0; k < 5; ++k) {
        for (unsigned int index : {0u, 1u}) {
          SCOPED_TRACE(std::string(unit) + " " + std::to_string(row.requested) + " proximity " +
                       std::to_string(static_cast<int>(kProximities[k])) + " index " +
                       std::to_string(index));
          unsigned int result = kUntouched;
          const int code = query(kId, &result, index, kProximities[k], row.requested);
          if (row.expected[k] == kOutOfRange) {
            EXPECT_EQ(code, VYX_NOT_AVAILABLE);
            EXPECT_EQ(result, kUntouched);
            EXPECT_EQ(lastError(*p, kId), outOfRange);
          } else {
            EXPECT_EQ(code, VYX_OK);
            EXPECT_EQ(result, static_cast<unsigned int>(row.expected[k]));
          }
        }
      }
    }
  }
};

TEST_F(ExposureTest, ValidIntegrationTimeTable) {
  checkTable(api().vyxpGetValidIntegrationTime, "us",
             {
                 {0, {1, kOutOfRange, 1, 1, 1}},
                 {1, {1, 1, 1, 1, 1}},
                 {4999, {4999, 4999, 4999, 4999, 4999}},
                 {5000, {5000, 5000, 5000, 5000, 5000}},
                 {5001, {kOutOfRange, 5000, 5000, 5000, 5000}},
                 {UINT_MAX, {kOutOfRange, 5000, 5000, 5000, 5000}},
             },
             "requested integration time is out of range");
  EXPECT_TRUE(cam->calls().empty()) << "validation never asks the camera";
}

TEST_F(ExposureTest, ValidModulationFrequencyTable) {
  checkTable(api().vyxpGetValidModulationFrequency, "hz",
             {
                 {0, {20000000, kOutOfRange, 20000000, kOutOfRange, kOutOfRange}},
                 {19999999, {20000000, kOutOfRange, 20000000, kOutOfRange, kOutOfRange}},
                 {20000000, {20000000, 20000000, 20000000, 20000000, 20000000}},
                 {20000001, {kOutOfRange, 20000000, 20000000, kOutOfRange, kOutOfRange}},
                 {UINT_MAX, {kOutOfRange, 20000000, 20000000, kOutOfRange, kOutOfRange}},
             },
             "requested modulation frequency is out of range");
}

TEST_F(ExposureTest, SlotsAboveOneDoNotExist) {
  const std::string noTime = "requested integration time does not exist";
  const std::string noFrequency = "requested modulation frequency does not exist";
  for (unsigned int idx : {2u, 3u, UINT_MAX}) {
    SCOPED_TRACE("idx " + std::to_string(idx));
    unsigned int result = kUntouched;
    EXPECT_EQ(api().vyxpGetIntegrationTime(kId, &result, idx), VYX_NOT_AVAILABLE);
    EXPECT_EQ(lastError(*p, kId), noTime);
    EXPECT_EQ(api().vyxpGetValidModulationFrequency(kId, &result, idx, CloseTo, 20000000),
              VYX_NOT_AVAILABLE);
    EXPECT_EQ(lastError(*p, kId), noFrequency);
    EXPECT_EQ(api().vyxpSetIntegrationTime(kId, idx, 0), VYX_NOT_AVAILABLE)
        << "the slot is tested before the value";
    EXPECT_EQ(lastError(*p, kId), noTime);
    EXPECT_EQ(api().vyxpGetModulationFrequency(kId, &result, idx), VYX_NOT_AVAILABLE);
    EXPECT_EQ(lastError(*p, kId), noFrequency);
    EXPECT_EQ(api().vyxpGetValidIntegrationTime(kId, &result, idx, CloseTo, 100),
              VYX_NOT_AVAILABLE);
    EXPECT_EQ(lastError(*p, kId), noTime);
    EXPECT_EQ(result, kUntouched);
  }
  EXPECT_TRUE(cam->calls().empty());
}

TEST_F(ExposureTest, IntegrationTimesAreTheCamerasAfterOpening) {
  EXPECT_EQ(integrationTime(0), 1234u);
  EXPECT_EQ(integrationTime(1), 4321u);
  EXPECT_TRUE(cam->calls().empty()) << "read from the copy";
}

struct SetCase {
  unsigned int idx, val;
};

void PrintTo(const SetCase& c, std::ostream* os) { *os << "idx " << c.idx << " val " << c.val; }

class SetIntegrationTimeTest : public ExposureTest,
                               public ::testing::WithParamInterface<SetCase> {};

// The whole front-end block goes to the camera as nine integers, with only
// the slot's element changed.
TEST_P(SetIntegrationTimeTest, SendsTheBlockWithOneElementChanged) {
  const SetCase c = GetParam();
  ASSERT_EQ(api().vyxpSetIntegrationTime(kId, c.idx, c.val), VYX_OK);
  const std::vector<lvtsim::RpcCall> calls = cam->calls();
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0].method, "MDAXMLSetFrontendData");
  ASSERT_EQ(calls[0].paramCount(), 9);
  std::vector<int> sent;
  XmlRpc::XmlRpcValue params = calls[0].params;
  for (int i = 0; i < 9; ++i) {
    ASSERT_EQ(params[i].getType(), XmlRpc::XmlRpcValue::TypeInt) << calls[0].text;
    sent.push_back(static_cast<int>(params[i]));
  }
  std::vector<int> expected = {7, 8, 9, 10, 1234, 4321, 11, 25, 12};
  expected[c.idx == 0 ? 4 : 5] = static_cast<int>(c.val);
  EXPECT_EQ(sent, expected);
  EXPECT_EQ(integrationTime(c.idx), c.val);
  EXPECT_EQ(integrationTime(1 - c.idx), c.idx == 0 ? 4321u : 1234u);
  EXPECT_EQ(cam->frontend()[c.idx == 0 ? 4 : 5], static_cast<int32_t>(c.val));
}

INSTANTIATE_TEST_SUITE_P(Values, SetIntegrationTimeTest,
                         ::testing::Values(SetCase{0, 5000}, SetCase{1, 5000}, SetCase{0, 1},
                                           SetCase{1, 1}, SetCase{0, 4999}, SetCase{1, 300}));

TEST_F(ExposureTest, RefusedTimesSendNothing) {
  struct Refusal {
    unsigned int idx, val;
    int code;
    const char* text;
  };
  const Refusal refusals[] = {
      {0, 0, VYX_INVALID_VALUE, "integration time too short"},
      {1, 0, VYX_INVALID_VALUE, "integration time too short"},
      {0, 5001, VYX_INVALID_VALUE, "integration time too long"},
      {1, UINT_MAX, VYX_INVALID_VALUE, "integration time too long"},
      {2, 0, VYX_NOT_AVAILABLE, "requested integration time does not exist"},
      {2, 6000, VYX_NOT_AVAILABLE, "requested integration time does not exist"},
  };
  for (const Refusal& r : refusals) {
    SCOPED_TRACE("idx " + std::to_string(r.idx) + " val " + std::to_string(r.val));
    EXPECT_EQ(api().vyxpSetIntegrationTime(kId, r.idx, r.val), r.code);
    EXPECT_EQ(lastError(*p, kId), r.text);
  }
  EXPECT_TRUE(cam->calls().empty());
  EXPECT_EQ(integrationTime(0), 1234u);
  EXPECT_EQ(integrationTime(1), 4321u);
}

TEST_F(ExposureTest, CameraAdjustedTimeShowsInALaterGet) {
  cam->setFrontendWriteAdjust([](std::array<int32_t, 9>& v) { v[4] = v[4] / 100 * 100; });
  ASSERT_EQ(api().vyxpSetIntegrationTime(kId, 0, 2345), VYX_OK) << "the answer is not compared";
  EXPECT_EQ(integrationTime(0), 2300u);
}

TEST_F(ExposureTest, FailedWriteIsARuntimeError) {
  ASSERT_EQ(api().vyxpSetIntegrationTime(kId, 0, 0), VYX_INVALID_VALUE);
  ASSERT_NE(lastError(*p, kId), "");
  // Every call is cut off: the XML-RPC client tries a closed connection again.
  cam->setRpcFault("MDAXMLSetFrontendData", lvtsim::RpcFault::Close);
  EXPECT_EQ(api().vyxpSetIntegrationTime(kId, 1, 1500), VYX_RUNTIME_ERROR);
  EXPECT_EQ(lastError(*p, kId), "") << "the instance's text is emptied";
  EXPECT_EQ(lastError(*p, 0), "XML-RPC error: ");
  EXPECT_EQ(integrationTime(1), 1500u) << "the copy keeps the edit";
  EXPECT_EQ(cam->frontend()[5], 4321);

  // The camera answers again: the next write goes through.
  cam->setRpcFault("MDAXMLSetFrontendData", lvtsim::RpcFault::None);
  ASSERT_EQ(api().vyxpSetIntegrationTime(kId, 1, 1600), VYX_OK);
  EXPECT_EQ(cam->frontend()[5], 1600);
}

TEST_F(ExposureTest, WriteAnsweredWithTheWrongShapeIsARuntimeError) {
  for (lvtsim::RpcFault fault :
       {lvtsim::RpcFault::Fault, lvtsim::RpcFault::WrongShape, lvtsim::RpcFault::ShortArray}) {
    cam->setRpcFault("MDAXMLSetFrontendData", fault, 1);
    ASSERT_EQ(api().vyxpSetIntegrationTime(kId, 0, 0), VYX_INVALID_VALUE);
    EXPECT_EQ(api().vyxpSetIntegrationTime(kId, 0, 777), VYX_RUNTIME_ERROR)
        << static_cast<int>(fault);
    EXPECT_EQ(lastError(*p, kId), "") << static_cast<int>(fault);
  }
}

TEST_F(ExposureTest, OneFixedModulationFrequency) {
  for (unsigned int idx : {0u, 1u}) {
    unsigned int hz = kUntouched;
    ASSERT_EQ(api().vyxpGetModulationFrequency(kId, &hz, idx), VYX_OK);
    EXPECT_EQ(hz, 20000000u);
  }
  EXPECT_EQ(api().vyxpSetModulationFrequency(kId, 0, 20000000), VYX_OK);
  EXPECT_EQ(api().vyxpSetModulationFrequency(kId, 7, 20000000), VYX_OK) << "idx is not examined";
  EXPECT_TRUE(cam->calls().empty()) << "nothing is sent";

  const std::string refusal = "camera does not support configuration of the modulation frequency";
  for (unsigned int hz : {0u, 19999999u, 20000001u, 30000000u}) {
    EXPECT_EQ(api().vyxpSetModulationFrequency(kId, 0, hz), VYX_NOT_SUPPORTED) << hz;
    EXPECT_EQ(lastError(*p, kId), refusal);
  }
  EXPECT_EQ(api().vyxpSetModulationFrequency(kId, 9, 1), VYX_NOT_SUPPORTED);
  EXPECT_TRUE(cam->calls().empty());
}

TEST_F(ExposureTest, NullResultPointersAreRefused) {
  EXPECT_EQ(api().vyxpGetIntegrationTime(kId, nullptr, 0), VYX_INVALID_VALUE);
  EXPECT_EQ(lastError(*p, kId), "null pointer argument");
  ASSERT_EQ(api().vyxpSetModulationFrequency(kId, 0, 1), VYX_NOT_SUPPORTED);
  EXPECT_EQ(api().vyxpGetValidIntegrationTime(kId, nullptr, 0, CloseTo, 100), VYX_INVALID_VALUE);
  EXPECT_EQ(lastError(*p, kId), "null pointer argument");
  ASSERT_EQ(api().vyxpSetModulationFrequency(kId, 0, 1), VYX_NOT_SUPPORTED);
  EXPECT_EQ(api().vyxpGetModulationFrequency(kId, nullptr, 0), VYX_INVALID_VALUE);
  EXPECT_EQ(lastError(*p, kId), "null pointer argument");
  ASSERT_EQ(api().vyxpSetModulationFrequency(kId, 0, 1), VYX_NOT_SUPPORTED);
  EXPECT_EQ(api().vyxpGetValidModulationFrequency(kId, nullptr, 0, CloseTo, 1), VYX_INVALID_VALUE);
  EXPECT_EQ(lastError(*p, kId), "null pointer argument");
}

TEST_F(ExposureTest, UnknownHandleTouchesNothing) {
  ASSERT_EQ(api().vyxpInitRawDataPlugin(kId, "127.0.0.1"), VYX_INVALID_VALUE);
  ASSERT_EQ(lastError(*p, 0), "handle already exists");
  const unsigned int other = kId + 1;
  unsigned int result = kUntouched;
  EXPECT_EQ(api().vyxpGetIntegrationTime(other, &result, 0), VYX_INVALID_HANDLE);
  EXPECT_EQ(lastError(*p, 0), "");
  EXPECT_EQ(api().vyxpSetIntegrationTime(other, 0, 100), VYX_INVALID_HANDLE);
  EXPECT_EQ(api().vyxpGetValidIntegrationTime(other, &result, 0, CloseTo, 100), VYX_INVALID_HANDLE);
  EXPECT_EQ(api().vyxpGetModulationFrequency(other, &result, 0), VYX_INVALID_HANDLE);
  EXPECT_EQ(api().vyxpSetModulationFrequency(other, 0, 20000000), VYX_INVALID_HANDLE);
  EXPECT_EQ(api().vyxpGetValidModulationFrequency(other, &result, 0, CloseTo, 20000000),
            VYX_INVALID_HANDLE);
  EXPECT_EQ(result, kUntouched);
  EXPECT_TRUE(cam->calls().empty());
}

}  // namespace
