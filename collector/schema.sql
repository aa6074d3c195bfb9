-- The SWV records of many machines, as rsyslog's ompgsql output inserts them:
-- one row per received record, the message kept byte for byte in raw, the
-- fields parsed from it by a trigger, and views that answer the fleet's
-- questions. Load it once into an empty database with psql -f schema.sql.
--
-- The record's texts are bytes of the sending machine's ANSI code page and its
-- values are not escaped, so a name may hold commas and double quotes. rsyslog
-- connects with client_encoding LATIN1, which maps every byte 0x01-0xFF to one
-- character, and the insert turns the message back into exactly those bytes
-- with convert_to(..., 'LATIN1'): no byte is refused or altered on the way.

\set ON_ERROR_STOP on
SET client_min_messages = warning;
SET standard_conforming_strings = on;

BEGIN;

CREATE TABLE swv_records (
    id              bigint GENERATED ALWAYS AS IDENTITY PRIMARY KEY,
    received_at     timestamptz NOT NULL DEFAULT now(),
    sender_ip       inet,
    syslog_host     text,
    reported_at     timestamptz,
    procid          text,
    raw             bytea NOT NULL,
    -- Set by the trigger below from raw alone; whatever an insert puts here is replaced.
    parsed          boolean NOT NULL DEFAULT false,
    mac_address     text,
    ip_address      text,
    app_name        text,
    app_version     text,
    run_time        timestamptz,
    run_date_text   text,
    setup_time      timestamptz,
    setup_date_text text,
    setup_version   text
);

COMMENT ON TABLE swv_records IS
    'One row per SWV record received; raw is the message byte for byte, the other '
    'record columns are parsed from it (names decoded as Windows-1252). parsed is '
    'false for a record that was cut or whose free-text fields cannot be told apart: '
    'then only mac_address and ip_address are filled, when the record begins as it should.';

CREATE INDEX swv_records_installation ON swv_records (mac_address, app_name, app_version)
    WHERE parsed;

-- Windows-1252 text of a string whose characters stand for bytes (its
-- Latin-1 reading). Bytes 0x80-0x9F that the code page leaves undefined
-- (0x81, 0x8D, 0x8F, 0x90, 0x9D) become the control characters of the same
-- number, as Windows itself decodes them, so no byte string is ever refused.
-- Every byte gives exactly one character. translate() is slow, so it runs
-- only on texts that hold a byte of that range.
CREATE FUNCTION swv_windows_1252(latin1 text) RETURNS text
    LANGUAGE sql IMMUTABLE STRICT PARALLEL SAFE
    RETURN CASE WHEN latin1 !~ E'[\u0080-\u009F]' THEN latin1
        ELSE translate(latin1,
            E'\u0080\u0082\u0083\u0084\u0085\u0086\u0087\u0088\u0089\u008A\u008B\u008C\u008E' ||
            E'\u0091\u0092\u0093\u0094\u0095\u0096\u0097\u0098\u0099\u009A\u009B\u009C\u009E\u009F',
            E'\u20AC\u201A\u0192\u201E\u2026\u2020\u2021\u02C6\u2030\u0160\u2039\u0152\u017D' ||
            E'\u2018\u2019\u201C\u201D\u2022\u2013\u2014\u02DC\u2122\u0161\u203A\u0153\u017E\u0178')
        END;

-- Windows-1252 text of a byte string without zero bytes.
CREATE FUNCTION swv_decode(bytes bytea) RETURNS text
    LANGUAGE sql IMMUTABLE STRICT PARALLEL SAFE
    RETURN swv_windows_1252(convert_from(bytes, 'LATIN1'));

-- Fills the record columns of a row from its raw bytes.
--
-- The record is "SWV","MAC","IP","NAME","VERSION",RUN,"RUNDATE",SETUP,"SETUPDATE","SETUPVERSION","n/a","n/a"
-- with NAME, VERSION and SETUPVERSION free text that may hold commas and
-- quotes. The fixed-shape fields are the anchors: the MAC and IP texts at the
-- start, the closing "n/a","n/a" at the end, and in between the run
-- ",RUN,"RUNDATE",SETUP,"SETUPDATE"," (two numbers, two 19-character date
-- texts or empty ones). Every place where that run matches, combined with
-- every "," before it that could end NAME, is one way to read the record; the
-- row is parsed only when there is exactly one. A record cut at its
-- 1023rd character lacks the closing fields and is left unparsed too.
CREATE FUNCTION swv_parse_record() RETURNS trigger
    LANGUAGE plpgsql AS $$
DECLARE
    -- Matched without capturing groups and {n} bounds, either of which makes
    -- PostgreSQL's regular expressions many times slower; the fields are
    -- then cut out by their commas, which none of them holds.
    date_text constant text :=
        '[0-9][0-9]\.[0-9][0-9]\.[0-9][0-9][0-9][0-9] [0-9][0-9]:[0-9][0-9]:[0-9][0-9]';
    fixed_run constant text :=
        '",-?[0-9]+,"(?:' || date_text || ')?",-?[0-9]+,"(?:' || date_text || ')?","';
    closing constant text := '","n/a","n/a"';
    -- One character per byte, so positions and lengths are those of the bytes.
    record_text text;
    mac text;
    ip text;
    middle text;
    readings integer := 0;
    start integer := 1;
    at integer;
    names_before integer;
    fields text[];
    chosen_fields text[];
    chosen_names text;
    chosen_rest text;
    split_at integer;
    run_seconds bigint;
    setup_seconds bigint;
BEGIN
    NEW.parsed := false;
    NEW.mac_address := NULL;
    NEW.ip_address := NULL;
    NEW.app_name := NULL;
    NEW.app_version := NULL;
    NEW.run_time := NULL;
    NEW.run_date_text := NULL;
    NEW.setup_time := NULL;
    NEW.setup_date_text := NULL;
    NEW.setup_version := NULL;
    -- A zero byte has no place in a text column; such a row keeps only raw.
    IF position('\x00'::bytea IN NEW.raw) > 0 THEN
        RETURN NEW;
    END IF;
    -- Decoding keeps one character per byte, so it may come before parsing,
    -- and it never makes a quote or a comma. Most records need none.
    record_text := convert_from(NEW.raw, 'LATIN1');
    IF record_text ~ E'[\u0080-\u009F]' THEN
        record_text := swv_windows_1252(record_text);
    END IF;

    -- "SWV","MAC","IP"," where neither text holds a quote.
    IF left(record_text, 7) <> '"SWV","' THEN
        RETURN NEW;
    END IF;
    mac := split_part(substr(record_text, 8), '"', 1);
    ip := split_part(substr(record_text, 8 + length(mac) + 3), '"', 1);
    IF substr(record_text, 8 + length(mac), 3) <> '","'
       OR substr(record_text, 11 + length(mac) + length(ip), 3) <> '","'
       OR mac !~ '^(?:[0-9A-Fa-f][0-9A-Fa-f]:[0-9A-Fa-f][0-9A-Fa-f]:[0-9A-Fa-f][0-9A-Fa-f]:[0-9A-Fa-f][0-9A-Fa-f]:[0-9A-Fa-f][0-9A-Fa-f]:[0-9A-Fa-f][0-9A-Fa-f])?$'
       OR ip !~ '^[0-9A-Fa-f.:]*$' OR length(ip) > 45 THEN
        RETURN NEW;
    END IF;
    NEW.mac_address := mac;
    NEW.ip_address := ip;
    middle := substr(record_text, 14 + length(mac) + length(ip));
    IF length(middle) < length(closing) OR right(middle, length(closing)) <> closing THEN
        RETURN NEW;
    END IF;
    middle := left(middle, length(middle) - length(closing));

    -- Each search starts one character after the last place found, so
    -- every place is found, overlapping ones included.
    LOOP
        at := regexp_instr(middle, fixed_run, start);
        EXIT WHEN at = 0;
        -- How many "," before it could end the name: a count above one is
        -- as good as two, and overlapping ones exist only in ",","; apart
        -- from them the plain count is the answer.
        names_before := CASE WHEN strpos(left(middle, at - 1), '",","') > 0 THEN 2
            ELSE (at - 1 - length(replace(left(middle, at - 1), '","', ''))) / 3 END;
        readings := readings + names_before;
        IF names_before = 1 THEN
            -- ",RUN,"RUNDATE",SETUP,"SETUPDATE","SETUPVERSION
            fields := string_to_array(substr(middle, at + 2), ',');
            chosen_fields := ARRAY[fields[1], btrim(fields[2], '"'), fields[3],
                                   btrim(fields[4], '"')];
            chosen_names := left(middle, at - 1);
            chosen_rest := substr(middle, at + 7 + length(fields[1]) + length(fields[2]) +
                                  length(fields[3]) + length(fields[4]));
        END IF;
        start := at + 1;
    END LOOP;

    IF readings <> 1 OR length(chosen_fields[1]) > 11 OR length(chosen_fields[3]) > 11 THEN
        RETURN NEW;
    END IF;
    run_seconds := chosen_fields[1]::bigint;
    setup_seconds := chosen_fields[3]::bigint;
    IF run_seconds NOT BETWEEN -2147483648 AND 2147483647
       OR setup_seconds NOT BETWEEN -2147483648 AND 2147483647 THEN
        RETURN NEW;
    END IF;
    split_at := strpos(chosen_names, '","');
    NEW.app_name := left(chosen_names, split_at - 1);
    NEW.app_version := substr(chosen_names, split_at + 3);
    -- 0 (no setup file) and -1 (a moment outside the 32-bit range) mean no moment.
    NEW.run_time := CASE WHEN run_seconds IN (0, -1) THEN NULL ELSE to_timestamp(run_seconds) END;
    NEW.run_date_text := chosen_fields[2];
    NEW.setup_time := CASE WHEN setup_seconds IN (0, -1) THEN NULL
                           ELSE to_timestamp(setup_seconds) END;
    NEW.setup_date_text := chosen_fields[4];
    NEW.setup_version := chosen_rest;
    NEW.parsed := true;
    RETURN NEW;
END
$$;

CREATE TRIGGER swv_records_parse BEFORE INSERT OR UPDATE OF raw ON swv_records
    FOR EACH ROW EXECUTE FUNCTION swv_parse_record();

-- A sort key that orders version texts as people read them: digit runs by
-- their number (2.10 after 2.9, 1.01 beside 1.1), other runs by their bytes,
-- a number before a text at the same place, and a version before the same
-- version with more parts (1.0 before 1.0.1, 1.0 before 1.0a). Compare the
-- keys with COLLATE "C" so the database's locale plays no part.
CREATE FUNCTION version_order(version text) RETURNS text[]
    LANGUAGE sql IMMUTABLE STRICT PARALLEL SAFE
    RETURN ARRAY(
        SELECT CASE WHEN part[1] ~ '^[0-9]'
                    THEN '0' || lpad(length(ltrim(part[1], '0'))::text, 5, '0') || ltrim(part[1], '0')
                    ELSE '1' || part[1] END
        FROM regexp_matches(version, '[0-9]+|[^0-9]+', 'g') WITH ORDINALITY AS parts(part, n)
        ORDER BY n);

-- One row per application version seen on a machine.
CREATE VIEW installed_versions AS
SELECT mac_address,
       app_name,
       app_version,
       min(received_at) AS first_seen,
       max(received_at) AS last_seen,
       max(run_time) AS last_run,
       count(*) AS runs,
       (array_agg(setup_version ORDER BY received_at DESC, id DESC))[1] AS setup_version,
       (array_agg(setup_time ORDER BY received_at DESC, id DESC))[1] AS setup_time,
       (array_agg(ip_address ORDER BY received_at DESC, id DESC))[1] AS ip_address
FROM swv_records
WHERE parsed
GROUP BY mac_address, app_name, app_version;

-- Per machine and application, the version of the record received last: the
-- version that runs there now.
CREATE VIEW current_versions AS
SELECT DISTINCT ON (mac_address, app_name)
       mac_address, app_name, app_version, ip_address, syslog_host,
       received_at AS last_seen, run_time AS last_run
FROM swv_records
WHERE parsed
ORDER BY mac_address, app_name, received_at DESC, id DESC;

-- Per application, the newest version any machine has reported.
CREATE VIEW newest_versions AS
SELECT DISTINCT ON (app_name) app_name, app_version AS newest_version
FROM swv_records
WHERE parsed
ORDER BY app_name, version_order(app_version) COLLATE "C" DESC, app_version COLLATE "C" DESC;

-- Machines whose current version of an application is older than the newest
-- version seen anywhere.
CREATE VIEW outdated_installations AS
SELECT c.mac_address, c.ip_address, c.syslog_host, c.app_name,
       c.app_version AS current_version, n.newest_version, c.last_seen, c.last_run
FROM current_versions c
JOIN newest_versions n USING (app_name)
WHERE version_order(c.app_version) COLLATE "C" < version_order(n.newest_version) COLLATE "C";

-- Records kept but not parsed, with their bytes shown as text.
CREATE VIEW unparsed_records AS
SELECT id, received_at, sender_ip, syslog_host, procid, mac_address, ip_address,
       octet_length(raw) AS length,
       CASE WHEN position('\x00'::bytea IN raw) = 0 THEN swv_decode(raw) END AS record_text
FROM swv_records
WHERE NOT parsed;

REVOKE ALL ON swv_records FROM PUBLIC;

COMMIT;
