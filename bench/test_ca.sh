# Sourced by the benchmarks: make_test_ca DIR makes a made-up CA (DIR/ca.pem)
# and a leaf it signed for 127.0.0.1 and localhost (DIR/leaf.pem, DIR/leaf.key).
make_test_ca() {
  local certs=$1
  mkdir -p "$certs"
  openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes \
    -keyout "$certs/ca.key" -out "$certs/ca.pem" -days 2 -subj "/CN=Bench CA" >/dev/null 2>&1
  openssl req -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -keyout "$certs/leaf.key" \
    -out "$certs/leaf.csr" -subj "/CN=localhost" >/dev/null 2>&1
  printf "subjectAltName=IP:127.0.0.1,DNS:localhost\n" > "$certs/leaf.ext"
  openssl x509 -req -in "$certs/leaf.csr" -CA "$certs/ca.pem" -CAkey "$certs/ca.key" \
    -CAcreateserial -days 2 -extfile "$certs/leaf.ext" -out "$certs/leaf.pem" >/dev/null 2>&1
}
