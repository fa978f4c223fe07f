       COPY DM.
