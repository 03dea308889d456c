#!/bin/sh
# Throwaway certificates for the TLS test, in DIR: two CAs (ca, other), a
# server certificate for 127.0.0.1 and a client certificate, both signed by ca.
# usage: make-certificates.sh DIR
set -e
cd "$1"
k='-newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes'
for ca in ca other; do
    openssl req -x509 $k -keyout $ca.key -out $ca.pem -days 1 -subj /CN=zolib-test-$ca
done
printf 'subjectAltName=IP:127.0.0.1\n' >san
for who in server client; do
    openssl req $k -keyout $who.key -out $who.csr -subj /CN=$who
    openssl x509 -req -in $who.csr -CA ca.pem -CAkey ca.key -CAcreateserial -days 1 \
        -extfile san -out $who.pem
done
