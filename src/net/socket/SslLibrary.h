// OpenSSL, loaded when the first TLS connection needs it. A program that
// never speaks TLS (every plain download) maps neither libssl nor libcrypto,
// which would cost it about 1.7 MB of resident memory at start. The
// OpenSSL headers still give the types and constants; after this header,
// the OpenSSL calls of a file go through the table below. Include it in
// place of the OpenSSL headers, and only from the TLS layer's own files.
#pragma once

#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

// Every OpenSSL function the TLS layer calls, the macros' targets included.
#define CLIPHARBOR_SSL_FUNCTIONS(X) \
  X(BIO_clear_flags) \
  X(BIO_get_data) \
  X(BIO_get_new_index) \
  X(BIO_meth_new) \
  X(BIO_meth_set_create) \
  X(BIO_meth_set_ctrl) \
  X(BIO_meth_set_read) \
  X(BIO_meth_set_write) \
  X(BIO_new) \
  X(BIO_set_data) \
  X(BIO_set_flags) \
  X(BIO_set_init) \
  X(ERR_clear_error) \
  X(ERR_error_string_n) \
  X(ERR_get_error) \
  X(ERR_reason_error_string) \
  X(SSL_CIPHER_get_name) \
  X(SSL_CTX_ctrl) \
  X(SSL_CTX_free) \
  X(SSL_CTX_load_verify_locations) \
  X(SSL_CTX_new) \
  X(SSL_CTX_set_default_read_buffer_len) \
  X(SSL_CTX_set_default_verify_paths) \
  X(SSL_CTX_set_options) \
  X(SSL_CTX_set_verify) \
  X(SSL_ctrl) \
  X(SSL_do_handshake) \
  X(SSL_free) \
  X(SSL_get0_param) \
  X(SSL_get_current_cipher) \
  X(SSL_get_error) \
  X(SSL_get_verify_result) \
  X(SSL_get_version) \
  X(SSL_has_pending) \
  X(SSL_new) \
  X(SSL_pending) \
  X(SSL_read) \
  X(SSL_set_bio) \
  X(SSL_set_connect_state) \
  X(SSL_set_read_ahead) \
  X(SSL_write) \
  X(TLS_client_method) \
  X(X509_VERIFY_PARAM_set1_host) \
  X(X509_VERIFY_PARAM_set1_ip_asc) \
  X(X509_VERIFY_PARAM_set_hostflags) \
  X(X509_verify_cert_error_string)

struct TSslLibrary {
#define CLIPHARBOR_SSL_POINTER(name) decltype(&::name) name = nullptr;
  CLIPHARBOR_SSL_FUNCTIONS(CLIPHARBOR_SSL_POINTER)
#undef CLIPHARBOR_SSL_POINTER
};

// The loaded library. Loads it on the first call; raises ESocketException
// ("TLS is not available: ...") when it or one of its functions is missing,
// then again on every call.
const TSslLibrary& SslLibrary();

// The loader itself sees the names as they are.
#ifndef CLIPHARBOR_SSL_LOADER
#define BIO_clear_flags SslLibrary().BIO_clear_flags
#define BIO_get_data SslLibrary().BIO_get_data
#define BIO_get_new_index SslLibrary().BIO_get_new_index
#define BIO_meth_new SslLibrary().BIO_meth_new
#define BIO_meth_set_create SslLibrary().BIO_meth_set_create
#define BIO_meth_set_ctrl SslLibrary().BIO_meth_set_ctrl
#define BIO_meth_set_read SslLibrary().BIO_meth_set_read
#define BIO_meth_set_write SslLibrary().BIO_meth_set_write
#define BIO_new SslLibrary().BIO_new
#define BIO_set_data SslLibrary().BIO_set_data
#define BIO_set_flags SslLibrary().BIO_set_flags
#define BIO_set_init SslLibrary().BIO_set_init
#define ERR_clear_error SslLibrary().ERR_clear_error
#define ERR_error_string_n SslLibrary().ERR_error_string_n
#define ERR_get_error SslLibrary().ERR_get_error
#define ERR_reason_error_string SslLibrary().ERR_reason_error_string
#define SSL_CIPHER_get_name SslLibrary().SSL_CIPHER_get_name
#define SSL_CTX_ctrl SslLibrary().SSL_CTX_ctrl
#define SSL_CTX_free SslLibrary().SSL_CTX_free
#define SSL_CTX_load_verify_locations SslLibrary().SSL_CTX_load_verify_locations
#define SSL_CTX_new SslLibrary().SSL_CTX_new
#define SSL_CTX_set_default_read_buffer_len SslLibrary().SSL_CTX_set_default_read_buffer_len
#define SSL_CTX_set_default_verify_paths SslLibrary().SSL_CTX_set_default_verify_paths
#define SSL_CTX_set_options SslLibrary().SSL_CTX_set_options
#define SSL_CTX_set_verify SslLibrary().SSL_CTX_set_verify
#define SSL_ctrl SslLibrary().SSL_ctrl
#define SSL_do_handshake SslLibrary().SSL_do_handshake
#define SSL_free SslLibrary().SSL_free
#define SSL_get0_param SslLibrary().SSL_get0_param
#define SSL_get_current_cipher SslLibrary().SSL_get_current_cipher
#define SSL_get_error SslLibrary().SSL_get_error
#define SSL_get_verify_result SslLibrary().SSL_get_verify_result
#define SSL_get_version SslLibrary().SSL_get_version
#define SSL_has_pending SslLibrary().SSL_has_pending
#define SSL_new SslLibrary().SSL_new
#define SSL_pending SslLibrary().SSL_pending
#define SSL_read SslLibrary().SSL_read
#define SSL_set_bio SslLibrary().SSL_set_bio
#define SSL_set_connect_state SslLibrary().SSL_set_connect_state
#define SSL_set_read_ahead SslLibrary().SSL_set_read_ahead
#define SSL_write SslLibrary().SSL_write
#define TLS_client_method SslLibrary().TLS_client_method
#define X509_VERIFY_PARAM_set1_host SslLibrary().X509_VERIFY_PARAM_set1_host
#define X509_VERIFY_PARAM_set1_ip_asc SslLibrary().X509_VERIFY_PARAM_set1_ip_asc
#define X509_VERIFY_PARAM_set_hostflags SslLibrary().X509_VERIFY_PARAM_set_hostflags
#define X509_verify_cert_error_string SslLibrary().X509_verify_cert_error_string
#endif
