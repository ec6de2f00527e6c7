-- Unposted internet-access charges for the demo: the daemon posts them to
-- the simulated PMS at its first scans.
INSERT INTO session_info (ses_room_no, ses_guest_no, ses_amount, ses_mac, ses_pay_no, ses_reg_time_dt, ses_reg_expire_dt)
VALUES ('101', '1001', 9.95, '00:16:3e:10:01:01', 4, now() - interval '20 minutes', now() + interval '1 day'),
       ('102', '1002', 4.50, '00:16:3e:10:02:01', 4, now() - interval '15 minutes', now() + interval '1 day'),
       ('101', '1001', 2.00, '00:16:3e:10:01:02', 4, now() - interval '5 minutes', now() + interval '1 hour');
