-- The gateway tables, sequences and function that vornpms reads and writes.
--
-- Load into an empty database:  psql -d vornpms -f db/schema.sql
--
-- Date-times are "timestamp with time zone" so that extract(epoch ...) and
-- comparisons with now() are right whatever the server's time zone; the
-- daemon writes local-time texts and reads seconds since the epoch.

-- Message numbers for the vendor protocols (FIAS P#, GalaVu/Galaxy/HTNG/JDS
-- transaction numbers). Read as a 32-bit integer, so it wraps before that.
CREATE SEQUENCE pms_message_seq MAXVALUE 2147483647 CYCLE;
CREATE SEQUENCE pms_guests_seq;
CREATE SEQUENCE pms_discount_seq;

CREATE SEQUENCE session_info_seq;
CREATE SEQUENCE session_traffic_seq;
CREATE SEQUENCE sub_session_info_seq;
CREATE SEQUENCE aux_service_info_seq;
CREATE SEQUENCE unrated_billing_queue_seq;
CREATE SEQUENCE generic_billing_queue_seq;

-- Occupancy: one row per guest stay in a room. A row is current while
-- pms_is_stale is 0; check-out sets it to 1 so that history stays.
-- pms_psi_no is the interface instance (PSI_NO) that owns the row.
CREATE TABLE pms_guests (
    pms_seq_no            integer PRIMARY KEY DEFAULT nextval('pms_guests_seq'),
    pms_room              text,
    pms_guest_no          text,
    pms_name_first        text,
    pms_name_last         text,
    pms_vip_status        text,
    pms_language          text,
    pms_guest_group_no    text,
    pms_arrival_dt        timestamp with time zone,
    pms_depart_dt         timestamp with time zone,
    pms_is_stale          integer NOT NULL DEFAULT 0,
    pms_created_dt        timestamp with time zone,
    pms_no_post           text,
    pms_resort_fee        text,
    pms_psi_no            integer NOT NULL DEFAULT 0,
    pms_class_of_service  integer,
    pms_user_0            text,
    pms_user_1            text,
    pms_user_2            text,
    pms_user_3            text,
    pms_user_4            text,
    pms_user_5            text,
    pms_user_6            text,
    pms_user_7            text,
    pms_user_8            text,
    pms_user_9            text
);
CREATE INDEX pms_guests_room_idx ON pms_guests (pms_room, pms_is_stale, pms_psi_no);
CREATE INDEX pms_guests_guest_idx ON pms_guests (pms_guest_no);

-- Discounts granted by VIP code: what was taken off a posted charge.
CREATE TABLE pms_discounts (
    pms_seq_no      integer PRIMARY KEY DEFAULT nextval('pms_discount_seq'),
    pms_date        timestamp with time zone,
    pms_room        text,
    pms_guest_no    text,
    pms_vip_status  integer,
    pms_discount    real
);

-- Service sets that sessions are bought from; srs_expire_on_checkout says
-- what a check-out does to their sessions: -1 follow EXPIRE_ON_CHECKOUT,
-- 0 never, 1 expire now, 2 expire at midnight, 3 expire in the database only.
CREATE TABLE service_sets (
    srs_seq_no              integer PRIMARY KEY,
    srs_name                text,
    srs_expire_on_checkout  integer NOT NULL DEFAULT -1
);

-- Internet-access sessions and their charges. ses_posted_flag: 0 unposted,
-- 1 posted, 2 usage limit reached, 3 taken out of posting at check-out
-- (the Regal vendor also stores 3, 4, 5 for refused charges).
-- ses_pay_no 4 and 32 are the payment methods billed to the room.
CREATE TABLE session_info (
    ses_seq_no          integer PRIMARY KEY DEFAULT nextval('session_info_seq'),
    ses_psi_no          integer NOT NULL DEFAULT 0,
    ses_room_no         text,
    ses_guest_no        text,
    ses_access_code     text,
    ses_auth_code       text,
    ses_amount          numeric(12,2) NOT NULL DEFAULT 0,
    ses_mac             text,
    ses_assigned_ip     text,
    ses_port_id         integer,
    ses_reg_type        text,
    ses_user_lang       text,
    ses_wired_for_bus   integer,
    ses_pay_no          integer,
    ses_srs_no          integer,
    ses_reg_time_dt     timestamp with time zone,
    ses_reg_expire_dt   timestamp with time zone,
    ses_orig_expire_dt  timestamp with time zone,
    ses_posted_flag     integer NOT NULL DEFAULT 0,
    ses_posted_dt       timestamp with time zone
);
CREATE INDEX session_info_unposted_idx ON session_info (ses_posted_flag, ses_psi_no);
CREATE INDEX session_info_room_idx ON session_info (ses_room_no);

-- Traffic (byte) charges of a session, one row per billed step.
CREATE TABLE session_traffic (
    str_seq_no       integer PRIMARY KEY DEFAULT nextval('session_traffic_seq'),
    str_ses_seq_no   integer NOT NULL,
    str_amount       numeric(12,2) NOT NULL DEFAULT 0,
    str_posted_flag  integer NOT NULL DEFAULT 0,
    str_posted_dt    timestamp with time zone
);

-- Time charges of a session, one row per billed sub-session.
CREATE TABLE sub_session_info (
    ssi_seq_no       integer PRIMARY KEY DEFAULT nextval('sub_session_info_seq'),
    ssi_ses_seq_no   integer NOT NULL,
    ssi_amount       numeric(12,2) NOT NULL DEFAULT 0,
    ssi_posted_flag  integer NOT NULL DEFAULT 0,
    ssi_posted_dt    timestamp with time zone
);

-- Charges for auxiliary services.
CREATE TABLE aux_service_info (
    asi_seq_no       integer PRIMARY KEY DEFAULT nextval('aux_service_info_seq'),
    asi_room_no      text,
    asi_amount       numeric(12,2) NOT NULL DEFAULT 0,
    asi_posted_flag  integer NOT NULL DEFAULT 0,
    asi_posted_dt    timestamp with time zone
);

-- Charges queued before they were rated.
CREATE TABLE unrated_billing_queue (
    ubq_seq_no       integer PRIMARY KEY DEFAULT nextval('unrated_billing_queue_seq'),
    ubq_room_no      text,
    ubq_amount       numeric(12,2) NOT NULL DEFAULT 0,
    ubq_posted_flag  integer NOT NULL DEFAULT 0,
    ubq_posted_dt    timestamp with time zone
);

-- Charges queued by other gateway components.
CREATE TABLE generic_billing_queue (
    gbq_seq_no       integer PRIMARY KEY DEFAULT nextval('generic_billing_queue_seq'),
    gbq_room_no      text,
    gbq_amount       numeric(12,2) NOT NULL DEFAULT 0,
    gbq_posted_flag  integer NOT NULL DEFAULT 0,
    gbq_posted_dt    timestamp with time zone
);

-- Running usage totals of a session with byte or time charges.
CREATE TABLE user_status (
    usr_ses_seq_no     integer PRIMARY KEY,
    usr_posted_amount  real NOT NULL DEFAULT 0
);

-- Discounts promised on sessions; pdl_ignore marks those whose session was
-- taken out of posting at check-out.
CREATE TABLE pms_discount_log (
    pdl_ses_no      integer NOT NULL,
    pdl_amount      real,
    pdl_updated_dt  timestamp with time zone,
    pdl_ignore      boolean NOT NULL DEFAULT FALSE
);

-- Rooms that have a gateway port; the list of all rooms of the property.
CREATE TABLE valid_port_id (
    vpi_port_id  integer,
    vpi_room_no  text NOT NULL
);

-- Rooms known to the gateway's port list; a room missing here counts as
-- vacant for the occupancy check.
CREATE TABLE port_room_status (
    prs_room_no  text PRIMARY KEY
);

-- The gateway's room list: whether each room is occupied and when that
-- was last confirmed.
CREATE TABLE pms_room_list (
    prl_room        text PRIMARY KEY,
    prl_occupied    integer NOT NULL DEFAULT 0,
    prl_updated_dt  timestamp with time zone NOT NULL DEFAULT now()
);

-- Keeps pms_room_list in step with an occupancy change of one room.
CREATE FUNCTION fn_pms_room_list_update(room text, occupied integer) RETURNS integer AS $$
BEGIN
    INSERT INTO pms_room_list (prl_room, prl_occupied, prl_updated_dt)
        VALUES (room, occupied, now())
        ON CONFLICT (prl_room)
        DO UPDATE SET prl_occupied = EXCLUDED.prl_occupied, prl_updated_dt = EXCLUDED.prl_updated_dt;
    RETURN 1;
END;
$$ LANGUAGE plpgsql;
