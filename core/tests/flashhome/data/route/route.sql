-- Route database of a device of the current generation, run by the data-model library when it sets up the
-- device's flash home: in full on a new route.dat, without its INSERT statements on an existing one.
-- The library splits this text at every semicolon, so no comment or literal may hold one, and a comment must
-- precede a statement. Numbers are INTEGER columns: the share import binds them as texts and relies on the
-- column's affinity to store numbers.

-- Planned routes. Route holds a route's GPX text until the share export has moved it into the route file.
CREATE TABLE if not exists Route (
  idRoute INTEGER PRIMARY KEY,
  Title TEXT,
  Abstract TEXT,
  Author TEXT,
  CreateTime INTEGER,
  StartCountry TEXT,
  EndCountry TEXT,
  StartPlace TEXT,
  EndPlace TEXT,
  LDLon INTEGER,
  LDLat INTEGER,
  RTLon INTEGER,
  RTLat INTEGER,
  TravelTime INTEGER,
  TotalLength INTEGER,
  ActiveType INTEGER,
  RouteType INTEGER,
  Uploaded INTEGER NOT NULL DEFAULT 0,
  Route TEXT
);

-- Recorded rides. idRoute and CreateTime both hold the ride id, positions are in millionths of a degree, pause is
-- 1 while the recording stands paused.
CREATE TABLE if not exists TraceLog (
  idRoute INTEGER PRIMARY KEY,
  Title TEXT,
  Abstract TEXT,
  TotalLength INTEGER,
  CreateTime INTEGER,
  Author TEXT,
  Elevation INTEGER,
  StartLon INTEGER,
  StartLat INTEGER,
  EndLon INTEGER,
  EndLat INTEGER,
  LDLat INTEGER,
  LDLon INTEGER,
  RTLon INTEGER,
  RTLat INTEGER,
  StartCountry TEXT,
  EndCountry TEXT,
  StartPlace TEXT,
  EndPlace TEXT,
  MaxElev INTEGER,
  MinElev INTEGER,
  StartTime INTEGER,
  EndTime INTEGER,
  ActivityType INTEGER,
  RouteType INTEGER,
  Uploaded INTEGER NOT NULL DEFAULT 0,
  pause INTEGER
);

-- Workouts, their intervals and their routes, with every column that older databases gain one by one.
CREATE TABLE if not exists Workout (
  id INTEGER PRIMARY KEY,
  wid INTEGER NOT NULL,
  daily INTEGER,
  repeatcnt INTEGER,
  wtype INTEGER,
  subtype INTEGER,
  acttype INTEGER,
  name TEXT,
  datetime INTEGER,
  createtime TEXT,
  orgid INTEGER,
  oneshot INTEGER,
  desc TEXT,
  listOrder INTEGER
);

CREATE TABLE if not exists WorkoutInterval (
  wid INTEGER NOT NULL,
  iid INTEGER NOT NULL,
  needlap INTEGER,
  name TEXT,
  targettype INTEGER,
  targetlow INTEGER,
  targethigh INTEGER,
  targetishard INTEGER,
  durtype INTEGER,
  durvalue INTEGER,
  durismanual INTEGER,
  dursegstart INTEGER,
  dursegend INTEGER,
  durlat INTEGER,
  durlon INTEGER,
  nextiid INTEGER,
  repeatcnt INTEGER,
  logreso INTEGER,
  PRIMARY KEY(wid, iid)
);

CREATE TABLE if not exists WorkoutRoute (
  id INTEGER PRIMARY KEY,
  wid INTEGER NOT NULL,
  gpx BLOB
);
