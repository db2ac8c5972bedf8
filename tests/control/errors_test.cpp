#include "control/errors.h"

#include <gtest/gtest.h>

namespace qc {
namespace {

TEST(ErrorText, FollowsTheStringNumberRules) {
  struct Case {
    int code;
    int stringNumber;
    const char* text;
  };
  const Case cases[] = {
      {-8074, 11874, "Called fax number was busy"},
      {8074, 11874, "Called fax number was busy"},
      {100, 11900, "Attempt to read beyond end of file"},
      {-100, 11900, "Attempt to read beyond end of file"},
      {-150, 11950, "Disk is write-protected"},
      {0, 11000, "OK"},
      {-1, 11001, ""},
      {-7, 11007, ""},
      {-2005, 11205, "ie_Hardware - Specified comport in use"},
      {-2011, 11211, "The ComNumber property of the TQcComPort has not been set"},
      {-6005, 11605, "Cancel requested"},
      {-8082, 11882, "Multiple resolutions per session not supported"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.code);
    EXPECT_EQ(ErrorStringNumber(c.code), c.stringNumber);
    EXPECT_EQ(ErrorText(c.code), c.text);
  }
}

TEST(ErrorText, EveryTextFitsItsLimit) {
  for (int code = -8200; code <= 0; ++code) EXPECT_LE(ErrorText(code).size(), 79u) << code;
}

TEST(RaiseForCode, ReturnsNonNegativeResultsAndAnythingWhileLoading) {
  EXPECT_EQ(RaiseForCode(0), 0);
  EXPECT_EQ(RaiseForCode(17), 17);
  EXPECT_EQ(RaiseForCode(-2005, /*loading=*/true), -2005);
  EXPECT_EQ(RaiseForCode(-6005, /*loading=*/true), -6005);
}

TEST(RaiseForCode, RaisesTheClassOfTheCode) {
  try {
    RaiseForCode(-2005);
    FAIL() << "nothing raised";
  } catch (const EHardware& e) {
    EXPECT_EQ(e.ErrorCode(), -2005);
    EXPECT_STREQ(e.what(), "ie_Hardware - Specified comport in use");
    EXPECT_NE(dynamic_cast<const EOpenComm*>(&e), nullptr);
  }
  EXPECT_THROW(RaiseForCode(-2001), EBadId);
  EXPECT_THROW(RaiseForCode(-3006), EOutputBufferTooSmall);
  EXPECT_THROW(RaiseForCode(-5001), ENoMoreTriggers);
  EXPECT_THROW(RaiseForCode(-8074), EFaxBusy);
  EXPECT_THROW(RaiseForCode(-7012), EInternal);
  try {
    RaiseForCode(-6006);
    FAIL() << "nothing raised";
  } catch (const EProtocol& e) {
    EXPECT_EQ(e.ErrorCode(), -6006);
    EXPECT_STREQ(e.what(), "Fatal time out");
  }
}

TEST(RaiseForCode, CodesWithoutAClassRaiseTheBaseClass) {
  for (int code : {-6005, -6001, -7009, -8050, -8082, -1, -9999}) {
    SCOPED_TRACE(code);
    try {
      RaiseForCode(code);
      FAIL() << "nothing raised";
    } catch (const EProtocol&) {
      FAIL() << "raised a family class";
    } catch (const EQcException& e) {
      EXPECT_EQ(typeid(e), typeid(EQcException));
      EXPECT_EQ(e.ErrorCode(), 0);
      EXPECT_STREQ(e.what(), "Fax library exception");
    }
  }
}

TEST(RaiseForCode, FileLayerCodesRaiseTheRunTimeExceptions) {
  try {
    RaiseForCode(-2);
    FAIL() << "nothing raised";
  } catch (const EInOutError& e) {
    EXPECT_EQ(e.ErrorCode(), 2);
    EXPECT_STREQ(e.what(), "File not found");
  }
  try {
    RaiseForCode(-160);
    FAIL() << "nothing raised";
  } catch (const EInOutError& e) {
    EXPECT_EQ(e.ErrorCode(), 160);
    EXPECT_STREQ(e.what(), "Device write error");
  }
  try {
    RaiseForCode(-8);
    FAIL() << "nothing raised";
  } catch (const EOutOfMemory& e) {
    EXPECT_STREQ(e.what(), "Insufficient memory");
  }
}

}  // namespace
}  // namespace qc
