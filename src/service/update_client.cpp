#include "service/update_client.h"

#include <new>

update_client* create_update_client(device_store* store) {
    update_client* client = new (std::nothrow) update_client;
    if (!client) return nullptr;
    client->store = store;
    return client;
}

void release_update_client(update_client* client) { delete client; }
