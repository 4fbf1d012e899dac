CREATE TABLE IF NOT EXISTS subscriptions (
    id TEXT PRIMARY KEY,
    name TEXT UNIQUE,
    content TEXT
);

CREATE TABLE IF NOT EXISTS db_version (
    version REAL
);

INSERT INTO db_version (version) VALUES (1.0);
