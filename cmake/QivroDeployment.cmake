# Where the client finds its panel. The defaults are reserved names that resolve nowhere, so a
# build that forgets to set them fails loudly instead of talking to someone else's server.
set(QIVRO_API_HOST "api.qivro.example" CACHE STRING "Host name of the panel API (no scheme)")
set(QIVRO_WEB_DOMAIN "qivro.example" CACHE STRING "The product's web domain (no scheme)")
set(QIVRO_VERSION_FILE_URL "https://cdn.qivro.example/client/version.json" CACHE STRING
    "Address of the remote version file")
