// The MQTT link over TLS, against a private mosquitto whose TLS listener
// carries a certificate signed by a certificate authority the test makes
// with Debian's openssl; mosquitto_pub and mosquitto_sub, verifying it with
// the same authority, are the outside peers.
#include <MQTTClient.h>
#include <gtest/gtest.h>
#include <stdlib.h>

#include <string>

#include "mqtt_test_support.h"
#include "telvaris.h"

namespace {

using fixtures::publishFromOutside;
using fixtures::waitFor;

// A base of its own, so that the authority exists before the broker that
// needs its certificate.
struct TestAuthority {
  fixtures::TestCertificates ca;
};

class MqttTls : protected TestAuthority, public mqtttest::LinkTest {
 protected:
  MqttTls() : LinkTest(ca.issue("broker", "IP:127.0.0.1,DNS:localhost")) {}
  void TearDown() override {
    LinkTest::TearDown();
    unsetenv(TLV_MQTT_CAFILE_VARIABLE);
    unsetenv("SSL_CERT_FILE");
  }
  static void trust(const std::string& caFile) { setenv(TLV_MQTT_CAFILE_VARIABLE, caFile.c_str(), 1); }
  int32_t connectTo(const fixtures::MosquittoBroker& to, const std::string& clientId) {
    return initialiseMQTTConnection(to.address(), to.port(), clientId.c_str(), 1);
  }
};

// The code the client library itself gives for a TLS connect to `uri` that
// verifies the certificate and the host name against `caFile`, or against
// the default trust store when that is empty.
int libraryTlsConnectCode(const std::string& uri, const std::string& caFile) {
  MQTTClient client = nullptr;
  if (MQTTClient_create(&client, uri.c_str(), "probe", MQTTCLIENT_PERSISTENCE_NONE, nullptr) != MQTTCLIENT_SUCCESS)
    return 0;
  MQTTClient_SSLOptions ssl = MQTTClient_SSLOptions_initializer;
  ssl.trustStore = caFile.empty() ? nullptr : caFile.c_str();
  ssl.enableServerCertAuth = 1;
  ssl.verify = 1;
  MQTTClient_connectOptions options = MQTTClient_connectOptions_initializer;
  options.cleansession = 1;
  options.ssl = &ssl;
  const int rc = MQTTClient_connect(client, &options);
  if (rc == MQTTCLIENT_SUCCESS) MQTTClient_disconnect(client, 1000);
  MQTTClient_destroy(&client);
  return rc;
}

TEST_F(MqttTls, TalksToABrokerItVerifiesAndComesBackToIt) {
  trust(ca.caFile());
  ASSERT_EQ(connect("C1-tls@example.org", 1), TLV_MQTT_OK) << logText();
  ASSERT_EQ(subscribeToMQTTConnection("tls/feedback"), TLV_MQTT_OK);
  ASSERT_TRUE(publishFromOutside(broker, "tls/feedback", R"({"feedback":"inhibit"})"));
  EXPECT_EQ(nextDecision(), TLV_FEEDBACK_INHIBIT);
  fixtures::OutsideSubscriber outside(broker, "tls/out");
  ASSERT_EQ(publishToMQTTConnection("tls/out", "reward"), TLV_MQTT_OK);
  EXPECT_EQ(outside.payloads(), "reward");

  // A reconnect verifies with the CA file read when the link was opened.
  unsetenv(TLV_MQTT_CAFILE_VARIABLE);
  broker.stop();
  broker.start();
  ASSERT_TRUE(waitFor([&] { return logCount("MQTT: Reconnected\n") == 1; }, 15000)) << logText();
  ASSERT_TRUE(publishFromOutside(broker, "tls/feedback", R"({"feedback":"reward"})"));
  EXPECT_EQ(nextDecision(), TLV_FEEDBACK_REWARD);
}

TEST_F(MqttTls, ACertificateThatDoesNotVerifyIsRefusedWithTheLibrarysCode) {
  // The system's trust store does not know the test's authority.
  int32_t rc = connect("C1-untrusted", 1);
  EXPECT_NE(rc, TLV_MQTT_OK);
  EXPECT_EQ(rc, libraryTlsConnectCode(broker.uri(), ""));
  EXPECT_NE(logText().find("MQTT: connection failed. RC=" + std::to_string(rc) + "\n"), std::string::npos);
  EXPECT_NE(subscribeToMQTTConnection("tls/feedback"), TLV_MQTT_OK);

  // Another authority's CA file, and one that is not there.
  fixtures::TestCertificates other;
  trust(other.caFile());
  rc = connect("C1-other-ca", 1);
  EXPECT_NE(rc, TLV_MQTT_OK);
  EXPECT_EQ(rc, libraryTlsConnectCode(broker.uri(), other.caFile()));
  trust(root.file("missing.pem"));
  rc = connect("C1-missing-ca", 1);
  EXPECT_NE(rc, TLV_MQTT_OK);
  EXPECT_EQ(rc, libraryTlsConnectCode(broker.uri(), root.file("missing.pem")));

  // The right authority, but a certificate for another host.
  fixtures::MosquittoBroker stranger(ca.issue("stranger", "DNS:broker.example"));
  trust(ca.caFile());
  rc = connectTo(stranger, "C1-stranger");
  EXPECT_NE(rc, TLV_MQTT_OK);
  EXPECT_EQ(rc, libraryTlsConnectCode(stranger.uri(), ca.caFile()));

  // Where the system's trust store holds the authority (OpenSSL reads its
  // default store from SSL_CERT_FILE), no CA file is needed.
  unsetenv(TLV_MQTT_CAFILE_VARIABLE);
  setenv("SSL_CERT_FILE", ca.caFile().c_str(), 1);
  EXPECT_EQ(connect("C1-system-store", 1), TLV_MQTT_OK) << logText();
  EXPECT_TRUE(broker.waitForLog("as C1-system-store ("));
}

}  // namespace
