// The process-wide context of the update-service queries.
#pragma once

struct device_store;

struct update_client {
    device_store* store = nullptr;  // the process-wide device store, not owned
};

// Created once during initialisation; null when it cannot be created.
update_client* create_update_client(device_store* store);
// Frees the client and everything it holds; null is allowed.
void release_update_client(update_client* client);
