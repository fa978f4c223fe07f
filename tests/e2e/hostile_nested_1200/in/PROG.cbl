       COPY M0001.
