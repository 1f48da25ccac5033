# Sourced once when the private prefix is made: trust the test CA of this build tree inside it.
# A CA made later is trusted by the test server fixture (tests/servers/trust-test-ca.sh).
source "$VARNOK_ROOT/tests/servers/trust-test-ca.sh" && varnok_trust_test_ca
