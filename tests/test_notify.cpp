// Mobile notification and the endpoint getters, against the service double.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "sdk_session.h"

using namespace testsupport;

namespace {

const char kNotifyPath[] = "/event/v1.0/notify";

// The platform library answers every query from these variables.
struct PlatformUser {
    ScopedEnv token;
    ScopedEnv language{"OMBREL_LANGUAGE", "ko-KR"};
    ScopedEnv nation;
    PlatformUser(const std::string& accessToken, const std::string& userNation)
        : token("OMBREL_ACCESS_TOKEN", accessToken), nation("OMBREL_NATION", userNation) {}
};

class Notify : public ::testing::Test {
protected:
    void SetUp() override {
        ResetServer();
        logic = MakeLogic();
        ASSERT_TRUE(InitializeWith(logic.get(), SessionConfig()));
    }
    std::vector<RecordedRequest> Sent() { return Requests(kNotifyPath); }
    LogicPtr logic;
};

}  // namespace

TEST_F(Notify, BodyAndHeadersAsReceived) {
    PlatformUser user("tok-9", "KR");
    LogWindow log;
    logic->SendMobileNotify("key-1", R"({"level": 2, "text": "fire"})", "ko-KR");
    const auto sent = Sent();
    ASSERT_EQ(1u, sent.size());
    EXPECT_EQ("POST", sent[0].method);
    EXPECT_EQ(R"({"integration_key":"key-1","payload":"{\"level\": 2, \"text\": \"fire\"}","lang_code":"ko-KR",)"
              R"("alarm_payload":{"level":2,"text":"fire"}})",
              sent[0].body);
    std::vector<std::pair<std::string, std::string>> headers;
    for (const auto& h : sent[0].headers) {
        for (const char* name : {"Authorization", "Content-Type", "X-Lang", "X-Nation"}) {
            if (h.first == name) headers.push_back(h);
        }
    }
    EXPECT_EQ((std::vector<std::pair<std::string, std::string>>{{"Content-Type", "application/json"},
                                                                {"Authorization", "Bearer tok-9"},
                                                                {"Content-Type", "application/json"},
                                                                {"X-Lang", "ko-KR"},
                                                                {"X-Nation", "KR"}}),
              headers);
    EXPECT_TRUE(log.WaitFor(R"([INFO] [TesselSDK::SendMobileNotify] Response: 200 - {"result":"ok"})"));
    EXPECT_EQ(1u, log.Count("[INFO] [TesselSDK::SendMobileNotify] Sending notification to " + ServerUrl() +
                            kNotifyPath));
}

TEST_F(Notify, LanguageCodeAndNationVariants) {
    {
        PlatformUser user("tok", "");
        logic->SendMobileNotify("k", "{}", nullptr);
        logic->SendMobileNotify("k", "{}", "");
    }
    {
        ScopedEnv noNation("OMBREL_NATION");
        logic->SendMobileNotify(nullptr, "{}", "ja-JP");
    }
    const auto sent = Sent();
    ASSERT_EQ(3u, sent.size());
    EXPECT_EQ("en-US", sent[0].Header("X-Lang"));
    EXPECT_EQ("en-US", nlohmann::json::parse(sent[0].body)["lang_code"]);
    EXPECT_EQ(1, sent[0].HeaderCount("X-Nation"));
    EXPECT_EQ("", sent[0].Header("X-Nation")) << "an empty platform nation is sent as it is";
    EXPECT_EQ(0, sent[1].HeaderCount("X-Lang"));
    EXPECT_EQ("", nlohmann::json::parse(sent[1].body)["lang_code"]);
    EXPECT_EQ("US", sent[2].Header("X-Nation")) << "the default when the platform fails";
    EXPECT_EQ("", nlohmann::json::parse(sent[2].body)["integration_key"]);
}

TEST_F(Notify, EmptyPayloadAndEmptyTokenAreSentAndAnswersOnlyLogged) {
    ScopedEnv noToken("OMBREL_ACCESS_TOKEN");
    AddRoute({{"path", kNotifyPath}, {"status", 500}, {"body", "boom"}});
    LogWindow log;
    logic->SendMobileNotify("k", "", "en-US");
    logic->SendMobileNotify("k", nullptr, "en-US");
    const auto sent = Sent();
    ASSERT_EQ(2u, sent.size()) << "no retry";
    for (const auto& r : sent) {
        EXPECT_EQ(R"({"integration_key":"k","payload":"","lang_code":"en-US","alarm_payload":{}})", r.body);
        const std::string auth = r.Header("Authorization");
        EXPECT_TRUE(auth == "Bearer" || auth == "Bearer ") << auth;
    }
    EXPECT_TRUE(log.WaitFor("[INFO] [TesselSDK::SendMobileNotify] Response: 500 - boom", 2));
    EXPECT_EQ(2u, log.Count("[WARN] [TesselSDK::SendMobileNotify] alarm_payload is empty, using {} as default."));
    EXPECT_EQ(2u, log.Count("[WARN] [TesselSDK::SendMobileNotify] Access token is empty."));
}

TEST_F(Notify, RejectedInputSendsNothing) {
    PlatformUser user("tok", "KR");
    LogWindow log;
    logic->SendMobileNotify("k", "[1,2]", "en");
    logic->SendMobileNotify("k", R"({"a":1} x)", "en");
    logic->SendMobileNotify("k", R"({"a":1, /* c */ "b":2})", "en");
    logic->SendMobileNotify("k", "{\"a\":\"\xFF\"}", "en");
    logic->SendMobileNotify("key \xC3", "{}", "en");
    logic->SendMobileNotify("k", "{}", "en \xFF");
    MakeLogic()->SendMobileNotify("k", "{}", "en");  // never initialised: no event API URL
    EXPECT_TRUE(Sent().empty());

    EXPECT_TRUE(log.WaitFor("[ERROR] [TesselSDK::SendMobileNotify] Event API URL missing (virivizar_event)."));
    EXPECT_EQ(1u, log.Count("[ERROR] [TesselSDK::SendMobileNotify] alarm_payload must be a JSON object."));
    EXPECT_EQ(3u, log.Count("[ERROR] [TesselSDK::SendMobileNotify] alarm_payload is not valid JSON."));
    EXPECT_EQ(2u, log.Count("[ERROR] [TesselSDK::SendMobileNotify] Notification text is not valid UTF-8."));
}
